#pragma once
// Text read from a recorder disk on its way to a terminal: a second-hand or shared disk
// must not be able to clear the screen or retitle the terminal with what it stores.
#include <string>

// What a byte read from the disk is shown as: a byte a terminal would act on (0x01-0x1F,
// DEL 0x7F, and 0x80-0x9F, which some terminals take as control codes) becomes the
// visible placeholder '.'; every other byte (0xA0-0xFF of Latin-1 titles included) stays.
char text_shown_byte(char c);

// The same for text of any length: every piece of disk text (titles, channel names,
// programme information, file names inside messages) goes through this or
// text_shown_byte on its way to the terminal.
std::string text_shown(const char *text);
