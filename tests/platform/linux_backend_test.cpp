#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "base/atomic_file.h"
#include "platform/linux/defaults_file.h"
#include "platform/linux/event_loop.h"
#include "platform/linux/libplist_property_lists.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/sim_power.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Runs the loop until the predicate holds or the time is up; true when it held.
bool runUntil(EventLoop& loop, std::chrono::milliseconds limit, const std::function<bool()>& done) {
    const auto deadline = SteadyClock::now() + limit;
    bool held = false;
    auto check = loop.startTimer(TimerSpec{5ms, 5ms, 0ms}, [&] {
        held = done();
        if (held || SteadyClock::now() >= deadline) {
            loop.stop();
        }
    });
    loop.run();
    return held;
}

TEST(EventLoop, TimersComeDueOnceAndIdleSleepsUntilTheLatestMomentATimerAllows) {
    EventLoop loop;
    const auto start = SteadyClock::now();
    std::vector<SteadyClock::duration> firings;
    auto oneShot = loop.startTimer(TimerSpec{100ms, 0ms, 0ms},
                                   [&] { firings.push_back(SteadyClock::now() - start); });
    auto cancelled = loop.startTimer(TimerSpec{50ms, 50ms, 0ms}, [&] { firings.push_back({}); });
    cancelled->cancel();
    auto quiet = loop.startTimer(TimerSpec{30min, 30min, 30s}, [] {});
    // Work posted from another thread wakes the loop at once, not at the next unrelated event.
    std::optional<SteadyClock::duration> served;
    auto unrelated = loop.startTimer(TimerSpec{1s, 0ms, 0ms}, [&] { loop.stop(); });
    std::thread poster([&] {
        std::this_thread::sleep_for(300ms);
        loop.post([&] {
            served = SteadyClock::now() - start;
            loop.stop();
        });
    });
    loop.run();
    poster.join();
    EXPECT_LT(served.value_or(1h), 800ms);
    ASSERT_EQ(firings.size(), 1u) << "the one-shot timer once, the cancelled one never";
    EXPECT_GE(firings[0], 100ms) << "never early";
    EXPECT_LE(loop.wakeUps(), 3u) << "no polling while idle";
}

TEST(EventLoop, AModalAlertHoldsOrdinaryWorkAndTimersButRunsPolicyWork) {
    EventLoop loop;
    std::vector<std::string> order;
    std::unique_ptr<TimerSource> timer;
    std::unique_ptr<TimerSource> policyTimer;
    std::unique_ptr<TimerSource> afterTheAlert;
    loop.post([&] {
        timer = loop.startTimer(TimerSpec{100ms, 100ms, 0ms}, [&] { order.push_back("timer"); });
        afterTheAlert =
            loop.startTimer(TimerSpec{280ms, 0ms, 0ms}, [&] { order.push_back("later"); });
        // The answer comes from a timer that runs during the alert, once the other timer has
        // come due twice.
        policyTimer = loop.startTimer(TimerSpec{250ms, 0ms, 0ms, WorkKind::RunsDuringAlerts},
                                      [&] { order.push_back("policy timer"); });
        loop.post([&] { order.push_back("held work"); });
        loop.post([&] { order.push_back("policy work"); }, WorkKind::RunsDuringAlerts);
        const auto wakeUpsBefore = loop.wakeUps();
        loop.runModal([&] { return order.size() == 2; });
        EXPECT_LE(loop.wakeUps() - wakeUpsBefore, 10u) << "held work must not keep it spinning";
        order.push_back("alert closed");
    });
    ASSERT_TRUE(runUntil(loop, 3s, [&] { return order.size() >= 7; }));
    timer->cancel();
    // The timer that came due twice during the alert runs once, and next at its following period.
    EXPECT_EQ(order, (std::vector<std::string>{"policy work", "policy timer", "alert closed",
                                               "held work", "timer", "later", "timer"}));
    // However an alert ends, the loop leaves its modal state.
    EventLoop fresh;
    EXPECT_THROW(fresh.runModal([]() -> bool { throw std::runtime_error("alert failed"); }),
                 std::runtime_error);
    EXPECT_FALSE(fresh.isModal());
}

TEST(SimPowerManagement, ChangesUndoneBeforeTheLoopLooksAreStillDelivered) {
    testing::TempFolder folder;
    sim::StateFile file(folder.path + "/state.json");
    file.update([](sim::State& state) { return state.asleep = true; }, nullptr);
    EventLoop loop;
    SimPowerManagement power(loop, file.path());
    int powerChanges = 0;
    int wakes = 0;
    power.addRunLoopSource(power.createPowerSourceNotification(
        [](void* count) { ++*static_cast<int*>(count); }, &powerChanges));
    power.addWakeObserver(this, [&] { ++wakes; });
    // Woken, unplugged, plugged back and asleep again while the main thread is busy elsewhere (as
    // during a refresh): the values end as they began, only the notebook's log tells.
    file.update(
        [](sim::State& state) {
            for (const char* kind : {"wake", "power", "power", "sleep"}) {
                state.record(kind, "");
            }
            return true;
        },
        nullptr);
    runUntil(loop, 1s, [&] { return powerChanges > 0 && wakes > 0; });
    EXPECT_EQ(powerChanges, 1);
    EXPECT_EQ(wakes, 1);
}

TEST(ReadWholeFile, ReadsOnlyRegularFilesWithinTheBound) {
    testing::TempFolder folder;
    const std::string fifo = folder.path + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto fileOf = [&](std::size_t size) {
        const std::string path = folder.path + "/" + std::to_string(size);
        EXPECT_TRUE(writeFileAtomically(path, std::string(size, 'x')));
        return path;
    };
    const std::tuple<const char*, std::string, std::optional<std::size_t>> cases[] = {
        {"a file of the largest size", fileOf(kMaximumFileSize), kMaximumFileSize},
        {"one byte more", fileOf(kMaximumFileSize + 1), std::nullopt},
        {"a device", "/dev/null", std::nullopt},
        {"a FIFO nobody writes", fifo, std::nullopt},
    };
    for (const auto& [what, path, size] : cases) {
        SCOPED_TRACE(what);
        const auto bytes = readWholeFile(path);
        EXPECT_EQ(bytes ? std::optional(bytes->size()) : std::nullopt, size);
    }
}

int countAside(const std::string& folder) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        count += entry.path().filename().string().starts_with("d.plist.unreadable-") ? 1 : 0;
    }
    return count;
}

TEST(AtomicFile, TheCleanUpRemovesOnlyLeftoverTemporaryFiles) {
    testing::TempFolder folder;
    const std::string path = folder.path + "/d.plist";
    ASSERT_TRUE(writeFileAtomically(path, "settings"));
    const std::pair<const char*, bool> cases[] = {
        {".d.plist.dorvane-partial-a1B2c3", false},
        {"d.plist.backup", true},
        {"d.plist.abc123", true},
        {".d.plist.dorvane-partial-a1B2c", true},
        {".d.plist.dorvane-partial-a1B2c3d", true},
        {".d.plist.dorvane-partial-a1B2_3", true},
        {".e.plist.dorvane-partial-a1B2c3", true},
    };
    for (const auto& [name, kept] : cases) {
        ASSERT_TRUE(writeFileAtomically(folder.path + "/" + name, "x"));
    }
    removeStaleTemporaryFiles(path);
    for (const auto& [name, kept] : cases) {
        EXPECT_EQ(std::filesystem::exists(folder.path + "/" + name), kept) << name;
    }
    EXPECT_EQ(readWholeFile(path), "settings");
    // A write that cannot take the target's place (a folder) leaves nothing behind either.
    std::filesystem::create_directory(folder.path + "/taken");
    EXPECT_FALSE(writeFileAtomically(folder.path + "/taken", "x"));
    const auto entries = std::filesystem::directory_iterator(folder.path);
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 8) << "the file, six names, the folder";
}

// Property lists at whose making of a save another program may write the file first.
struct InterruptedPropertyLists : LibplistPropertyLists {
    std::optional<std::string> xmlData(const PlistValue& root, std::string* error) override {
        theirs(++made);
        return LibplistPropertyLists::xmlData(root, error);
    }
    int made = 0;
    std::function<void(int)> theirs = [](int) {};
};

TEST(DefaultsFile, FlushesWithinASecondSharesTheFileAndKeepsWhatItDoesNotUnderstand) {
    testing::TempFolder folder;
    const std::string path = folder.path + "/nested/d.plist";
    InterruptedPropertyLists plists;
    testing::FakeMainQueue queue;  // virtual time: the flush bound is checked exactly
    // XML property lists keep dates to the second.
    const Date when = std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} + 9h + 30min + 15s;
    const std::map<std::string, DefaultsValue> ours = {
        {"integer", std::int64_t{-42}},
        {"boolean", true},
        {"text", std::string("22:00 <&> \xE4\xB8\xAD")},
        {"date", when},
        {"record", DefaultsDictionary{{"hour", std::int64_t{7}}, {"canonical", std::string("x")}}},
    };
    std::optional<DefaultsFile> defaults(std::in_place, path, queue, plists);
    for (const auto& [key, value] : ours) {
        defaults->setObject(key, value);
    }
    ASSERT_EQ(queue.timers.size(), 1u) << "one flush for changes close together";
    const auto& flush = *queue.timers[0];
    EXPECT_LE(flush.spec.start + flush.spec.leeway, 1s) << "it may fire late, but within a second";
    queue.advance(flush.spec.start - 1ms);
    EXPECT_FALSE(std::filesystem::exists(path));
    queue.advance(1ms);
    ASSERT_TRUE(std::filesystem::exists(path));
    // Another program adds values of types the settings never hold, and text that is not UTF-8,
    // replacing the file or writing it in place.
    auto theirs = std::get<PlistDictionary>(plists.parse(*readWholeFile(path), nullptr)->value);
    PlistValue deepest{PlistArray{}};  // nested as deep as a readable file may be
    for (int depth = 1; depth < 32; ++depth) {
        deepest = PlistValue{PlistArray{deepest}};
    }
    theirs.insert({{"nested", deepest},
                   {"quietHoursStart", PlistValue{std::string("\xff\xfe:00")}},
                   {"data", PlistValue{PlistData{std::string("\0\1\2", 3)}}},
                   {"real", PlistValue{2.5}},
                   {"array", PlistValue{PlistArray{PlistValue{std::int64_t{1}}}}},
                   {"dictionary", PlistValue{PlistDictionary{{"list", PlistValue{PlistArray{}}}}}},
                   {"batteryFloorPercent", PlistValue{std::int64_t{15}}}});
    const auto otherProgramWrites = [&](bool inPlace) {
        const auto xml = *plists.xmlData(PlistValue{theirs}, nullptr);
        inPlace ? void(std::ofstream(path, std::ios::trunc) << xml)
                : void(writeFileAtomically(path, xml));
    };
    const auto floor = [&] { return defaults->objectForKey("batteryFloorPercent"); };
    otherProgramWrites(false);
    EXPECT_EQ(floor(), DefaultsValue(std::int64_t{15})) << "a file replaced is seen";
    for (const auto& [key, value] : ours) {
        EXPECT_EQ(defaults->objectForKey(key), value) << key;
    }
    for (const char* foreign : {"quietHoursStart", "data", "real", "array", "dictionary"}) {
        EXPECT_FALSE(defaults->objectForKey(foreign)) << foreign;
    }
    theirs["batteryFloorPercent"] = PlistValue{std::int64_t{100}};
    otherProgramWrites(true);
    EXPECT_EQ(floor(), DefaultsValue(std::int64_t{100})) << "a file written in place is seen";
    std::ofstream(path, std::ios::trunc) << "<plist><dict><key>half";
    EXPECT_EQ(floor(), DefaultsValue(std::int64_t{100})) << "a file half written is not taken";
    EXPECT_EQ(countAside(folder.path + "/nested"), 0) << "nor moved aside";

    // Keys another program holds in types the settings never use are replaced or removed too.
    defaults->setObject("real", std::int64_t{3});
    defaults->removeObject("array");
    defaults->setObject("integer", std::int64_t{5});
    theirs["integer"] = PlistValue{std::int64_t{60}};
    otherProgramWrites(false);
    EXPECT_EQ(defaults->objectForKey("integer"), DefaultsValue(std::int64_t{5})) << "ours, unsaved";
    // A key another program adds while that flush is being made is merged in, not overwritten.
    theirs["late"] = PlistValue{true};
    plists.theirs = [&, late = true](int) mutable {
        if (std::exchange(late, false)) {
            otherProgramWrites(false);
        }
    };
    queue.advance(1s);  // the flush after the first
    theirs.erase("array");
    theirs["real"] = PlistValue{std::int64_t{3}};
    theirs["integer"] = PlistValue{std::int64_t{5}};
    EXPECT_EQ(plists.parse(*readWholeFile(path), nullptr), PlistValue{theirs}) << "the rest kept";
    // A save that fails is tried again, less and less often (after 0.5, 1, 2, 4, then every 8
    // seconds), for as long as it fails: never busy, never given up.
    std::optional<testing::RefusingFolder> refusing(std::in_place, folder.path + "/nested");
    defaults->setObject("integer", std::int64_t{7});
    const int made = plists.made;
    queue.advance(60s);
    EXPECT_EQ(plists.made - made, 10);
    EXPECT_TRUE(defaults->savesFail());
    refusing.reset();
    queue.advance(DefaultsFile::kLongestRetry);
    EXPECT_FALSE(defaults->savesFail());
    // A file deleted takes its values with it; none comes back at the next save.
    std::filesystem::remove(path);
    EXPECT_FALSE(floor());
    defaults->setObject("integer", std::int64_t{6});
    defaults.reset();  // what changed since the flush is written when the defaults go, at exit
    theirs = {{"integer", PlistValue{std::int64_t{6}}}};
    EXPECT_EQ(plists.parse(*readWholeFile(path), nullptr), PlistValue{theirs});
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::others_read,
              std::filesystem::perms::none);
}

TEST(DefaultsFile, AnUnreadableFileIsMovedAsideNeverOverAnEarlierOne) {
    std::string deep = "<plist version=\"1.0\">" + std::string(50000, ' ');
    for (int i = 0; i < 100000; ++i) {
        deep += i < 50000 ? "<array>" : "</array>";
    }
    deep += "</plist>";
    const std::pair<const char*, std::string> cases[] = {
        {"not a property list", "not a property list"},
        {"nested 50,000 deep", deep},
    };
    for (const auto& [what, content] : cases) {
        SCOPED_TRACE(what);
        testing::TempFolder folder;
        const std::string path = folder.path + "/d.plist";
        // Twice within the same second: the second copy set aside must not replace the first.
        for (int round = 1; round <= 2; ++round) {
            ASSERT_TRUE(writeFileAtomically(path, content));
            LibplistPropertyLists plists;
            EventLoop loop;
            ::testing::internal::CaptureStderr();
            DefaultsFile defaults(path, loop, plists);
            const std::string reported = ::testing::internal::GetCapturedStderr();
            EXPECT_NE(reported.find("could not be read"), std::string::npos) << reported;
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(path)));
            EXPECT_EQ(countAside(folder.path), round);
        }
    }
}

TEST(LinuxApplication, TerminatingRunsTheHandlerThenTheExitStepsThenExitsOnce) {
    std::vector<std::string> order;
    LinuxApplication application(
        {}, [&](int status) { order.push_back("exit " + std::to_string(status)); });
    application.setDelegateWillTerminate([&] {
        order.push_back("will terminate");
        application.terminate();  // asked again while terminating: nothing more
    });
    application.addExitStep([&] { order.push_back("flush settings"); });
    application.addExitStep([&] { order.push_back("restore terminal"); });
    application.terminate();
    EXPECT_EQ(order, (std::vector<std::string>{"will terminate", "flush settings",
                                               "restore terminal", "exit 0"}));
}

}  // namespace
}  // namespace dorvane
