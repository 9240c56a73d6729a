#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "host_options.h"
#include "journal_text.h"
#include "pixel_fingerprint.h"
#include "scenario.h"
#include "scenario_words.h"

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> words;
    std::string error;
    EXPECT_TRUE(SplitScriptLine(line, &words, &error)) << error;
    return words;
}

std::string WordStepsError(const std::vector<std::string>& words, bool dllGiven = false) {
    std::vector<Step> steps;
    std::string error;
    EXPECT_FALSE(ParseWordSteps(words, dllGiven, &steps, &error));
    return error;
}

}  // namespace

TEST(SplitScriptLine, QuotesKeepBlanksAndGiveEmptyWords) {
    using Words = std::vector<std::string>;
    EXPECT_EQ((Words{"create", "1", "C:\\Dock\\", ""}), Split("  create 1\tC:\\Dock\\ \"\"  "));
    EXPECT_EQ((Words{"waitlabel", "1", "Aucun message", "500"}),
              Split("waitlabel 1 \"Aucun message\" 500"));
    EXPECT_EQ((Words{"a b", "c#d"}), Split("a\" \"b c#d # the rest is a comment"));
    EXPECT_EQ((Words{}), Split("# only a comment"));
    EXPECT_EQ((Words{}), Split("\r"));

    std::vector<std::string> words;
    std::string error;
    EXPECT_FALSE(SplitScriptLine("save 1 \"open.png", &words, &error));
    EXPECT_NE(std::string::npos, error.find("quote"));
}

TEST(ReadScriptFile, KeepsLineNumbersOfStepsOnly) {
    std::string path = testing::TempDir() + "host_scenario_test.script";
    {
        std::ofstream file(path, std::ios::binary);
        file << "# a scenario\r\ncreate 1 \"C:\\A B\\\" \"\"\r\n\r\n  wait 10  # pause\nclick 1";
    }
    std::vector<ScriptLine> lines;
    std::string error;
    ASSERT_TRUE(ReadScriptFile(path, &lines, &error)) << error;
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(2, lines[0].number);
    EXPECT_EQ("C:\\A B\\", lines[0].words[2]);
    EXPECT_EQ(4, lines[1].number);
    EXPECT_EQ(5, lines[2].number);

    std::vector<Step> steps;
    ASSERT_TRUE(ParseScriptSteps("s.txt", lines, false, &steps, &error)) << error;
    EXPECT_EQ("s.txt:4", steps[1].where);
    std::remove(path.c_str());

    EXPECT_FALSE(ReadScriptFile(path, &lines, &error));
    EXPECT_NE(std::string::npos, error.find(path));
}

TEST(ParseWordSteps, ReadsEveryKindOfStep) {
    std::vector<Step> steps;
    std::string error;
    ASSERT_TRUE(ParseWordSteps({"create", "2", "C:\\Dock\\", "", "wait", "0", "waitlabel", "2", "",
                                "86400000", "click", "2", "hold", "2", "info", "save", "2", "p.png",
                                "stats", "waitchange", "2", "Checking...", "500", "waitframe", "2",
                                "NewMail.png", "0", "destroy", "2", "save", "2", "after.png", "48", "power",
                                "resumeautomatic", "addresschange", "quit"},
                               false, &steps, &error))
        << error;
    ASSERT_EQ(15u, steps.size());
    EXPECT_EQ(StepKind::kCreate, steps[0].kind);
    EXPECT_EQ(2, steps[0].item);
    EXPECT_EQ("C:\\Dock\\", steps[0].root);
    EXPECT_EQ("", steps[0].relative);
    EXPECT_EQ(StepKind::kWait, steps[1].kind);
    EXPECT_EQ(StepKind::kWaitLabel, steps[2].kind);
    EXPECT_EQ("", steps[2].text);
    EXPECT_EQ(86400000ul, steps[2].ms);
    EXPECT_EQ(StepKind::kClick, steps[3].kind);
    EXPECT_EQ(StepKind::kHold, steps[4].kind);
    EXPECT_EQ(StepKind::kInfo, steps[5].kind);
    EXPECT_EQ(StepKind::kSave, steps[6].kind);
    EXPECT_EQ("p.png", steps[6].file);
    EXPECT_EQ(0ul, steps[6].side);
    EXPECT_EQ(48ul, steps[11].side);
    EXPECT_EQ(StepKind::kStats, steps[7].kind);
    EXPECT_EQ(StepKind::kWaitChange, steps[8].kind);
    EXPECT_EQ("Checking...", steps[8].text);
    EXPECT_EQ(500ul, steps[8].ms);
    EXPECT_EQ(StepKind::kWaitFrame, steps[9].kind);
    EXPECT_EQ("NewMail.png", steps[9].file);
    EXPECT_EQ(0ul, steps[9].ms);
    EXPECT_EQ(StepKind::kDestroy, steps[10].kind);
    EXPECT_EQ(StepKind::kPower, steps[12].kind);
    EXPECT_EQ("resumeautomatic", steps[12].text);
    EXPECT_EQ(StepKind::kAddressChange, steps[13].kind);
    EXPECT_EQ(StepKind::kQuit, steps[14].kind);
    EXPECT_EQ("step 15", steps[14].where);
}

TEST(ParseWordSteps, RejectsBadWordsWithTheirPlace) {
    EXPECT_EQ("step 2: unknown step \"clik\"", WordStepsError({"create", "1", "a", "b", "clik", "1"}));
    EXPECT_NE(std::string::npos, WordStepsError({"click"}).find("needs an item number"));
    EXPECT_NE(std::string::npos, WordStepsError({"click", "x"}).find("not \"x\""));
    EXPECT_NE(std::string::npos, WordStepsError({"click", "0"}).find("from 1"));
    EXPECT_NE(std::string::npos, WordStepsError({"click", "10000"}).find("from 1"));
    EXPECT_NE(std::string::npos, WordStepsError({"click", "-1"}).find("from 1"));
    EXPECT_NE(std::string::npos, WordStepsError({"wait", "1e3"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"wait", "86400001"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"wait", "99999999999999"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"create", "1", "root"}).find("relative folder"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitlabel", "1", "text"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitchange", "1"}).find("a label to pass over"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitchange", "1", "text"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitframe", "1", "", "10"}).find("non-empty picture"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitframe", "1", "a.png", "x"}).find("milliseconds"));
    EXPECT_NE(std::string::npos, WordStepsError({"save", "1", "a.png", "15"}).find("side from 16"));
    EXPECT_NE(std::string::npos, WordStepsError({"save", "1", "a.png", "1025"}).find("not \"1025\""));
    EXPECT_NE(std::string::npos, WordStepsError({"save", "1", "a.png", "4x"}).find("pixels"));
    EXPECT_NE(std::string::npos, WordStepsError({"power"}).find("needs a power event"));
    EXPECT_NE(std::string::npos, WordStepsError({"power", "sleep"}).find("not \"sleep\""));
}

TEST(ParseWordSteps, ChecksTheItemsAcrossTheWholeScenario) {
    EXPECT_EQ("step 1: item 3 is not created before this step", WordStepsError({"click", "3"}));
    EXPECT_NE(std::string::npos, WordStepsError({"save", "1", "p.png"}).find("not created"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitchange", "1", "x", "5"}).find("not created"));
    EXPECT_NE(std::string::npos, WordStepsError({"waitframe", "1", "x", "5"}).find("not created"));
    EXPECT_NE(std::string::npos,
              WordStepsError({"create", "1", "a", "b", "create", "1", "a", "b"}).find("twice"));
    std::vector<std::string> afterDestroy = {"create", "1", "a", "b", "destroy", "1", "click", "1"};
    EXPECT_EQ("step 3: item 1 is already destroyed", WordStepsError(afterDestroy));
    EXPECT_NE(std::string::npos,
              WordStepsError({"create", "1", "a", "b", "destroy", "1", "destroy", "1"})
                  .find("already destroyed"));
    EXPECT_NE(std::string::npos, WordStepsError({"quit", "stats"}).find("follow quit"));
    EXPECT_NE(std::string::npos, WordStepsError({"save", "1", ""}).find("non-empty file"));

    // The docklet must be known before info can ask it.
    EXPECT_NE(std::string::npos, WordStepsError({"info"}).find("--dll"));
    std::vector<Step> steps;
    std::string error;
    EXPECT_TRUE(ParseWordSteps({"info"}, true, &steps, &error)) << error;
}

TEST(ParseScriptSteps, WantsOneStepALine) {
    std::vector<Step> steps;
    std::string error;
    std::vector<ScriptLine> lines = {{1, {"create", "1", "a", "b"}}, {3, {"click", "1", "hold", "1"}}};
    EXPECT_FALSE(ParseScriptSteps("s.txt", lines, false, &steps, &error));
    EXPECT_EQ("s.txt:3: unexpected \"hold\" after the step", error);

    steps.clear();
    lines = {{7, {"create", "1", "a"}}};
    EXPECT_FALSE(ParseScriptSteps("s.txt", lines, false, &steps, &error));
    EXPECT_EQ("s.txt:7: \"create\" needs a relative folder", error);
}

TEST(ParseHostOptions, ReadsOptionsUntilTheFirstStep) {
    HostOptions options;
    std::string error;
    ASSERT_TRUE(ParseHostOptions({"--journal", "j.txt", "--dll", "d.dll", "--direct", "--print",
                                  "--poison-images", "--null-ini", "--quiet-frames", "--hide",
                                  "DockletSetLabel,DockletSetImage,DockletSetLabel", "info", "--x"},
                                 &options, &error))
        << error;
    EXPECT_EQ("j.txt", options.journalPath);
    EXPECT_EQ("d.dll", options.dllPath);
    EXPECT_TRUE(options.direct && options.print && options.poisonImages && options.nullIni &&
                options.quietFrames);
    EXPECT_EQ((std::vector<std::string>{"DockletSetLabel", "DockletSetImage"}),
              options.hiddenFunctions);
    EXPECT_EQ((std::vector<std::string>{"info", "--x"}), options.stepWords);

    HostOptions all;
    ASSERT_TRUE(ParseHostOptions({"--hide", "all"}, &all, &error));
    EXPECT_EQ(static_cast<size_t>(kHostFunctionCount), all.hiddenFunctions.size());
    EXPECT_TRUE(all.stepWords.empty());
}

TEST(ParseHostOptions, RejectsWhatItCannotUse) {
    HostOptions options;
    std::string error;
    EXPECT_FALSE(ParseHostOptions({"--verbose"}, &options, &error));
    EXPECT_EQ("unknown option --verbose", error);
    EXPECT_FALSE(ParseHostOptions({"--journal"}, &options, &error));
    EXPECT_EQ("--journal needs a value", error);
    EXPECT_FALSE(ParseHostOptions({"--dll", ""}, &options, &error));
    EXPECT_FALSE(ParseHostOptions({"--hide", "DockletSetLabel,"}, &options, &error));
    EXPECT_EQ("--hide: \"\" is not a host function", error);
    EXPECT_FALSE(ParseHostOptions({"--hide", "dockletsetlabel"}, &options, &error));
    HostOptions both;
    EXPECT_FALSE(ParseHostOptions({"--script", "s.txt", "info"}, &both, &error));
    EXPECT_NE(std::string::npos, error.find("not both"));
}

TEST(JournalText, QuotingKeepsEveryLineWhole) {
    EXPECT_EQ("\"Aucun message\"", QuoteJournalText("Aucun message"));
    EXPECT_EQ("\"say \\\"hi\\\" C:\\\\x\"", QuoteJournalText("say \"hi\" C:\\x"));
    EXPECT_EQ("\"a\\tb\\nc\\rd\\x01\\x7f\"", QuoteJournalText("a\tb\nc\rd\x01\x7f"));
    EXPECT_EQ("\"\xe9t\xc3\xa9\"", QuoteJournalText("\xe9t\xc3\xa9"));
    EXPECT_EQ("\"\"", QuoteJournalText(""));
}

TEST(JournalText, LinesReadBackAsWritten) {
    std::string line = FormatJournalLine(1234.56, 36, "2", "DockletSetImage", "none\tauto=1");
    EXPECT_EQ("1234.6\t36\t2\tDockletSetImage\tnone\tauto=1", line);
    JournalLine parsed;
    ASSERT_TRUE(ParseJournalLine(line, &parsed));
    EXPECT_DOUBLE_EQ(1234.6, parsed.milliseconds);
    EXPECT_EQ(36ul, parsed.thread);
    EXPECT_EQ("2", parsed.item);
    EXPECT_EQ("DockletSetImage", parsed.event);
    EXPECT_EQ("none\tauto=1", parsed.details);

    ASSERT_TRUE(ParseJournalLine(FormatJournalLine(0, 4294967295ul, "-", "end", ""), &parsed));
    EXPECT_EQ(4294967295ul, parsed.thread);
    EXPECT_EQ("", parsed.details);

    EXPECT_FALSE(ParseJournalLine("", &parsed));
    EXPECT_FALSE(ParseJournalLine("1.0\t2\t-\tend", &parsed));
    EXPECT_FALSE(ParseJournalLine("x\t2\t-\tend\t", &parsed));
    EXPECT_FALSE(ParseJournalLine("1.0\t-2\t-\tend\t", &parsed));
}

TEST(FingerprintPixels, SeesPixelsButNotRowPadding) {
    // Two 2x2 pictures, one with 4 bytes of padding after each row.
    std::vector<uint8_t> tight = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::vector<uint8_t> padded = {1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xAA, 0xAA, 0xAA,
                                   9, 10, 11, 12, 13, 14, 15, 16, 0xBB, 0xBB, 0xBB, 0xBB};
    uint32_t fingerprint = FingerprintPixels(tight.data(), 2, 2, 8);
    EXPECT_EQ(fingerprint, FingerprintPixels(padded.data(), 2, 2, 12));
    tight[13] ^= 1;
    EXPECT_NE(fingerprint, FingerprintPixels(tight.data(), 2, 2, 8));
}
