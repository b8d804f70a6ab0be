#pragma once
// What the status icon says: the recorder's state, and the texts of the icon's tooltip and
// notifications made from a recording's counters. No platform calls, so that every state change
// and every text can be checked on its own. Texts are UTF-8. UI thread.

#include "common/RecordingCounters.h"

#include <cstddef>
#include <cstdint>
#include <string>

// The four pictures of the icon; the recorder's other states show as idle.
enum class RecorderState { Idle, Recording, Paused, Failed };

class StatusModel {
public:
    // The longest texts the notification area takes, in UTF-16 units without the terminator
    // (NOTIFYICONDATA szTip, szInfo and szInfoTitle).
    static constexpr size_t kMaxTooltip = 127;
    static constexpr size_t kMaxNotification = 255;
    static constexpr size_t kMaxNotificationTitle = 63;

    RecorderState State() const { return state; }
    // True when it changed. A new recording forgets the last one's failure.
    bool Show(RecorderState shown);
    // The failed state with the reason the tooltip gives.
    void Fail(const std::string& reason);
    const std::string& FailureReason() const { return failureReason; }

    // "Recording 0:42 · 12.3 MB · 0 skipped" while recording; at most kMaxTooltip units.
    std::string Tooltip(const RecordingCounters& counters) const;

    // "Saved VluxTake003.avi — 0:42, 12.3 MB"; at most kMaxNotification units.
    static std::string SavedText(const std::string& movieName, const RecordingCounters& counters);
    // "Recording failed: <reason>"; at most kMaxNotification units.
    static std::string FailedText(const std::string& reason);
    // "0:42", "12:05", "1:02:03".
    static std::string FormatElapsed(uint32_t ms);
    // One decimal in the largest of KB, MB and GB (1024-based) that gives at least 1: "12.3 MB".
    static std::string FormatBytes(uint64_t bytes);
    // Cut to at most `units` UTF-16 units on a character boundary, ending in "…" when cut.
    static std::string Bound(const std::string& utf8, size_t units);

private:
    RecorderState state = RecorderState::Idle;
    std::string failureReason;
};
