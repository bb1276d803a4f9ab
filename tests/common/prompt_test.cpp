#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "common/prompt.h"
#include "common/run_options.h"

namespace {

// Feeds `input` through a real pipe and collects one answer per question asked.
std::vector<int> answers(const std::string &input, int questions)
{
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]);
    FILE *in = fdopen(fds[0], "r");
    std::vector<int> result;
    for (int i = 0; i < questions; ++i)
        result.push_back(prompt_yes_no_from(in));
    fclose(in);
    return result;
}

class Prompt : public ::testing::Test {
  protected:
    void SetUp() override { run_options = RunOptions{}; }
};

TEST_F(Prompt, YesInAnyCaseAndShortForms)
{
    EXPECT_EQ(answers("Y\nye\nYES\nyEs\n", 4), (std::vector<int>{1, 1, 1, 1}));
}

TEST_F(Prompt, EverythingElseIsNo)
{
    EXPECT_EQ(answers("\nn\nyes \nyep\n y\nno\n", 6), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST_F(Prompt, EndOfInputIsNo)
{
    EXPECT_EQ(answers("", 2), (std::vector<int>{0, 0}));
}

TEST_F(Prompt, LongLineLeavesItsRestForTheNextQuestion)
{
    // 119 characters are taken; the rest ("yes\n" here) answers the next question.
    std::string line(119, 'x');
    EXPECT_EQ(answers(line + "yes\n", 2), (std::vector<int>{0, 1}));
    std::string long_line(200, 'y');
    EXPECT_EQ(answers(long_line + "\n", 1), (std::vector<int>{0}));
}

TEST_F(Prompt, AnswerYesToAllReadsNothing)
{
    run_options.ask = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(answers("n\n", 1), (std::vector<int>{1}));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "yes\n");
}

TEST(TextToLower, OnlyAsciiLetters)
{
    char text[] = "AbC-\xC9Z";
    text_to_lower(text);
    EXPECT_STREQ(text, "abc-\xC9z");
}

} // namespace
