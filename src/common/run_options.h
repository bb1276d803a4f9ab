#pragma once
// Process-wide settings of diskwarden, set once from the command line.
// They live here because disk opening and the prompts consult them too.

struct RunOptions {
    int ask = 1;      // 0 after -y (and inside the backup loop after its first recording)
    int backup = 0;   // -b
    int recovery = 0; // -r
    int no_info = 0;  // -n
    int extended = 0; // -x
    int json = 0;     // --json: a question that -y does not answer ends the run instead
    unsigned retries = 0; // --retries: further reads of each sector that stays unreadable
};

extern RunOptions run_options;
