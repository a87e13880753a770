#include "SubstituteLauncherPlatform.h"

#include "StateJournal.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace velto::launcher {

namespace {

std::filesystem::path makeTemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velto-launcher-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary directory");
    return pattern;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) return std::nullopt;
    std::ostringstream contents;
    contents << stream.rdbuf();
    return contents.str();
}

}  // namespace

std::optional<std::string> phaseOfRecord(const std::string& record) {
    const auto object = nlohmann::json::parse(record, nullptr, false);
    if (!object.is_object() || !object.contains("phase") || !object["phase"].is_string()) return std::nullopt;
    return object["phase"].get<std::string>();
}

SubstituteLauncherPlatform::SubstituteLauncherPlatform() : temporaryDirectory(makeTemporaryDirectory()) {}

SubstituteLauncherPlatform::~SubstituteLauncherPlatform() {
    std::error_code ignored;
    std::filesystem::remove_all(temporaryDirectory, ignored);
}

void SubstituteLauncherPlatform::scriptKeyboard(double from, std::uint64_t flags, std::uint32_t keyCount,
                                                double arrivesAfter) {
    keyboardScript[from] = {flags, keyCount, arrivesAfter};
}

SubstituteLauncherPlatform::KeyboardState SubstituteLauncherPlatform::keyboardAt(double time) const {
    auto next = keyboardScript.upper_bound(time);
    if (next == keyboardScript.begin()) return {};
    return std::prev(next)->second;
}

void SubstituteLauncherPlatform::onMainThread() {
    if (std::this_thread::get_id() != mainThread) ++callsOffMainThread;
}

// A watched keyboard reads as of the last event delivered, as a platform that
// learns of the keyboard from its events does; otherwise it reads live.
std::uint64_t SubstituteLauncherPlatform::modifierFlags() {
    onMainThread();
    sampleTimes.push_back(now);
    return keyboardAt(keyboardReportedThrough.value_or(now)).flags;
}

std::uint32_t SubstituteLauncherPlatform::keyDownCount() {
    onMainThread();
    return keyboardAt(keyboardReportedThrough.value_or(now)).keyCount;
}

KeyName SubstituteLauncherPlatform::holdKeyName() {
    onMainThread();
    return holdKey;
}

double SubstituteLauncherPlatform::systemUptime() {
    onMainThread();
    return now;
}

bool SubstituteLauncherPlatform::watchKeyboard(std::function<void(const KeyboardEvent&)> onKeyboardEvent) {
    onMainThread();
    if (!reportsKeyboardChanges) return false;
    keyboardWatcher = std::move(onKeyboardEvent);
    keyboardReportedThrough = now;
    return true;
}

void SubstituteLauncherPlatform::reportArrivedKeyboardEvents() {
    onMainThread();
    deliverArrivedKeyboardEvents();
}

// Events keep their order: one that arrives early waits behind an earlier one.
std::optional<double> SubstituteLauncherPlatform::nextKeyboardArrivalBy(double time) const {
    if (!keyboardWatcher) return std::nullopt;
    const auto next = keyboardScript.upper_bound(*keyboardReportedThrough);
    if (next == keyboardScript.end()) return std::nullopt;
    const double arrival = next->first + next->second.arrivesAfter;
    if (arrival > time) return std::nullopt;
    return arrival;
}

bool SubstituteLauncherPlatform::deliverArrivedKeyboardEvents() {
    bool delivered = false;
    while (auto arrival = nextKeyboardArrivalBy(now)) {
        const auto change = keyboardScript.upper_bound(*keyboardReportedThrough);
        keyboardReportedThrough = change->first;
        eventTimes.push_back(now);
        keyboardWatcher({change->second.flags, change->second.keyCount, change->first});
        delivered = true;
    }
    return delivered;
}

double SubstituteLauncherPlatform::whenRunnable(double time) const {
    for (const auto& stall : stalls) {
        if (stall.from < time && time < stall.to) return stall.to;
    }
    return time;
}

void SubstituteLauncherPlatform::log(const std::string& line) {
    onMainThread();
    logLines.push_back(line);
}

ScheduledTimer* SubstituteLauncherPlatform::nextTimerDueBy(double time) {
    ScheduledTimer* next = nullptr;
    for (const auto& timer : timers) {
        if (timer->valid && timer->nextDue() <= time && (!next || timer->nextDue() < next->nextDue())) {
            next = timer.get();
        }
    }
    return next;
}

void SubstituteLauncherPlatform::advanceTo(double time) {
    while (!terminated) {
        ScheduledTimer* timer = nextTimerDueBy(time);
        const auto arrival = nextKeyboardArrivalBy(time);
        std::optional<double> timerAt = timer ? std::optional(whenRunnable(timer->nextDue())) : std::nullopt;
        std::optional<double> eventAt = arrival ? std::optional(whenRunnable(*arrival)) : std::nullopt;
        if (timerAt > time) timerAt.reset();
        if (eventAt > time) eventAt.reset();
        // At the same moment an event comes first, unless both waited out a
        // stall: a resumed agent may well run its timer before reading.
        const bool eventFirst =
            eventAt && (!timerAt || *eventAt < *timerAt || (*eventAt == *timerAt && *eventAt == *arrival));
        if (eventFirst) {
            now = *eventAt;
            deliverArrivedKeyboardEvents();
        } else if (timerAt) {
            now = *timerAt;
            // Missed firings are not made up, as with a real repeating timer.
            do ++timer->firings;
            while (timer->nextDue() <= now);
            timer->action();
        } else {
            break;
        }
        runMainQueue();
    }
    if (!terminated && time > now) now = time;
}

void SubstituteLauncherPlatform::runMainQueue() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mainQueueLock);
            if (terminated) mainQueue.clear();
            if (mainQueue.empty()) return;
            task = std::move(mainQueue.front());
            mainQueue.pop_front();
        }
        task();
    }
}

bool SubstituteLauncherPlatform::chooseMenuEntry(const std::string& title) {
    if (statusItems.empty() || terminated) return false;
    for (const auto& entry : statusItems.back()->menu) {
        if (!entry.separator && entry.title == title) {
            entry.action();
            runMainQueue();
            return true;
        }
    }
    return false;
}

void SubstituteLauncherPlatform::completeOpen(std::optional<OpenError> error) {
    OpenCompletion completion = std::move(pendingCompletions.front());
    pendingCompletions.pop_front();
    completion(std::move(error));
    runMainQueue();
}

void SubstituteLauncherPlatform::completeOpenOnAnotherThread(std::optional<OpenError> error) {
    OpenCompletion completion = std::move(pendingCompletions.front());
    pendingCompletions.pop_front();
    std::thread workspaceThread([completion = std::move(completion), error = std::move(error)]() mutable {
        completion(std::move(error));
        completion = nullptr;  // released off the main thread, as a platform would
    });
    workspaceThread.join();
    runMainQueue();
}

std::filesystem::path SubstituteLauncherPlatform::stateFile() const {
    return temporaryDirectory / stateFileName;
}

std::vector<std::string> SubstituteLauncherPlatform::writtenPhases() const {
    std::vector<std::string> phases = replacedPhases;
    if (auto current = phaseInFile()) phases.push_back(*current);
    return phases;
}

std::optional<std::string> SubstituteLauncherPlatform::phaseInFile() const {
    const auto record = readFile(stateFile());
    if (!record) return std::nullopt;
    return phaseOfRecord(*record);
}

void SubstituteLauncherPlatform::setActivationPolicyAccessory() {
    onMainThread();
    lifecycle.push_back("accessory");
}

int SubstituteLauncherPlatform::run() {
    onMainThread();
    lifecycle.push_back("run");
    if (whileRunning) whileRunning();
    return 0;
}

void SubstituteLauncherPlatform::terminate() {
    onMainThread();
    lifecycle.push_back("terminate");
    terminated = true;
}

std::shared_ptr<Timer> SubstituteLauncherPlatform::scheduleRepeatingTimer(double interval, double tolerance,
                                                                          std::function<void()> action) {
    onMainThread();
    lifecycle.push_back("timer");
    timers.push_back(std::make_shared<ScheduledTimer>(now, interval, tolerance, std::move(action)));
    return timers.back();
}

void SubstituteLauncherPlatform::postToMain(std::function<void()> work) {
    std::lock_guard lock(mainQueueLock);
    mainQueue.push_back(std::move(work));
}

std::shared_ptr<StatusItem> SubstituteLauncherPlatform::makeStatusItem() {
    onMainThread();
    lifecycle.push_back("status item");
    statusItems.push_back(std::make_shared<RecordingStatusItem>(statusItemHasButton));
    return statusItems.back();
}

std::optional<std::string> SubstituteLauncherPlatform::bundleIdentifierAt(const std::string& location) {
    onMainThread();
    const auto found = bundleIdentifiers.find(location);
    if (found == bundleIdentifiers.end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> SubstituteLauncherPlatform::locationForApplication(const std::string& bundleIdentifier) {
    onMainThread();
    const auto found = registry.find(bundleIdentifier);
    if (found == registry.end()) return std::nullopt;
    return found->second;
}

void SubstituteLauncherPlatform::openApplication(const std::string& location,
                                                 const OpenConfiguration& configuration,
                                                 OpenCompletion completion) {
    onMainThread();
    openRequests.push_back({now, location, configuration});
    pendingCompletions.push_back(std::move(completion));
}

// Each write replaces the file whole, so the record about to be replaced is
// taken aside here, just before the launcher writes the next one; that keeps
// the whole sequence of phases observable.
std::optional<std::filesystem::path> SubstituteLauncherPlatform::stateDirectory() {
    onMainThread();
    lifecycle.push_back("state");
    if (stateDirectoryOverride) return stateDirectoryOverride;
    if (auto phase = phaseInFile()) {
        replacedPhases.push_back(*phase);
        std::filesystem::remove(stateFile());
    }
    return temporaryDirectory;
}

}  // namespace velto::launcher
