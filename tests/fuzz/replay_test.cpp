#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "base/atomic_file.h"
#include "fuzz/fuzz_target.h"

namespace dorvane::fuzz {

std::map<std::string, Target>& targets() {
    static std::map<std::string, Target> registered;
    return registered;
}

bool registerTarget(const char* name, Target target) {
    targets().emplace(name, target);
    return true;
}

namespace {

// Every input kept for a target, the crashes fuzzing once found among them, runs again here.
TEST(FuzzCorpus, EveryKeptInputRunsCleanly) {
    const std::filesystem::path corpus = DORVANE_FUZZ_CORPUS_DIR;
    ASSERT_FALSE(targets().empty());
    for (const auto& [name, target] : targets()) {
        SCOPED_TRACE(name);
        int inputs = 0;
        for (const auto& entry : std::filesystem::directory_iterator(corpus / name)) {
            const auto bytes = readWholeFile(entry.path().string());
            ASSERT_TRUE(bytes) << entry.path();
            const auto* input = reinterpret_cast<const std::uint8_t*>(bytes->data());
            EXPECT_EQ(target(input, bytes->size()), 0) << entry.path() << ": a promise broken";
            ++inputs;
        }
        EXPECT_GT(inputs, 0) << "each target has a seed corpus";
    }
}

}  // namespace
}  // namespace dorvane::fuzz
