#include "common/prompt.h"

#include <cstdlib>
#include <cstring>

#include "common/fatal.h"
#include "common/run_options.h"

namespace {
constexpr size_t PROMPT_BUFFER_SIZE = 120;
}

int prompt_read_line(char **buffer, size_t *capacity, FILE *input)
{
    if (buffer == nullptr || capacity == nullptr)
        return -1;
    if (*buffer == nullptr || *capacity == 0) {
        *buffer = static_cast<char *>(malloc(PROMPT_BUFFER_SIZE));
        if (*buffer == nullptr)
            return -1;
        *capacity = PROMPT_BUFFER_SIZE;
    }
    if (fgets(*buffer, static_cast<int>(*capacity), input) == nullptr)
        return -1;
    return static_cast<int>(*capacity);
}

void text_to_lower(char *text)
{
    for (; *text; ++text) {
        if (*text >= 'A' && *text <= 'Z')
            *text = static_cast<char>(*text - 'A' + 'a');
    }
}

int prompt_yes_no_from(FILE *input)
{
    if (run_options.ask == 0) {
        fprintf(stderr, "yes\n");
        return 1;
    }
    // A front-end reading the document of --json is not there to answer.
    if (run_options.json)
        end_run(1, "\n--json does not wait for answers: add -y to answer yes\n");
    fflush(stdout);
    char *line = nullptr;
    size_t capacity = 0;
    int answer = 0;
    if (prompt_read_line(&line, &capacity, input) >= 0) {
        text_to_lower(line);
        size_t length = strlen(line);
        // The last character read (normally the newline) is not compared.
        answer = length >= 2 && length <= 4 && strncmp(line, "yes", length - 1) == 0;
    }
    free(line);
    return answer;
}

int prompt_yes_no()
{
    return prompt_yes_no_from(stdin);
}

void prompt_or_end(const char *question, int status, const char *farewell)
{
    fputs(question, stderr);
    if (!prompt_yes_no())
        end_run(status, "%s", farewell);
}
