// Checks of an unattended run's log, shared by the host scenarios and the runs under Wine: the
// log's lines with their timestamps taken off, and the comparison of two runs' logs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace deploychecks {

// "YYYY-MM-DD HH:MM:SS " at the start of every line.
inline bool HasTimestamp(std::string_view line) {
    constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd ";
    if (line.size() < kShape.size()) {
        return false;
    }
    for (size_t i = 0; i < kShape.size(); ++i) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (kShape[i] == 'd' ? !digit : line[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

// The events of a log, one a line, timestamps taken off. A line without its timestamp, or one
// not ended by CR LF, is kept whole behind "BAD: " so that a comparison shows it.
inline std::vector<std::string> LogEvents(std::string_view log) {
    std::vector<std::string> events;
    while (!log.empty()) {
        size_t end = log.find("\r\n");
        std::string_view line = log.substr(0, end);
        log = end == std::string_view::npos ? std::string_view() : log.substr(end + 2);
        if (end == std::string_view::npos || !HasTimestamp(line)) {
            events.push_back("BAD: " + std::string(line));
        } else {
            events.emplace_back(line.substr(20));
        }
    }
    return events;
}

// Each event less what two machines may tell apart: the start line's Windows build and the
// command line that named their own files; the Windows directory (C:\\WINNT on the host images,
// C:\\windows in a Wine prefix), written as %windir%; and the size of TONEBAY.DLL, which on the
// host is the emulated driver's description and under Wine the real driver.
inline std::vector<std::string> Comparable(std::vector<std::string> events,
                                           std::string_view windowsDir) {
    auto lower = [](std::string text) {
        for (char& c : text) {
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
        return text;
    };
    const std::string dir = lower(std::string(windowsDir)) + "\\";
    for (std::string& event : events) {
        if (event.rfind("start: ", 0) == 0) {
            event = event.substr(0, event.find(" (build"));
        }
        for (size_t at = lower(event).find(dir); !dir.empty() && at != std::string::npos;
             at = lower(event).find(dir, at + 1)) {
            event.replace(at, dir.size() - 1, "%windir%");
        }
        if (event.rfind("copied ", 0) == 0 &&
            lower(event).find("\\tonebay.dll (") != std::string::npos) {
            event = event.substr(0, event.find(" (")) + " (size of the driver)";
        }
    }
    return events;
}

// The differences of two runs' logs, one a line ("host: ..." / "wine: ..."); empty when they
// tell the same events in the same order.
inline std::string CompareLogs(std::string_view hostLog, std::string_view hostWindowsDir,
                               std::string_view wineLog, std::string_view wineWindowsDir) {
    std::vector<std::string> host = Comparable(LogEvents(hostLog), hostWindowsDir);
    std::vector<std::string> wine = Comparable(LogEvents(wineLog), wineWindowsDir);
    std::string differences;
    for (size_t i = 0; i < host.size() || i < wine.size(); ++i) {
        const std::string none = "(no line)";
        const std::string& a = i < host.size() ? host[i] : none;
        const std::string& b = i < wine.size() ? wine[i] : none;
        if (a != b) {
            differences +=
                "line " + std::to_string(i + 1) + "\n  host: " + a + "\n  wine: " + b + "\n";
        }
    }
    return differences;
}

} // namespace deploychecks
