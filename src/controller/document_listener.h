#pragma once

// What the Document tells the screens. Events are delivered synchronously, in listener order,
// on the user-interface thread.

namespace controller {

// The codes are stable: they are logged and the screens' texts are chosen by them.
enum class DocumentEvent : int {
    ListRebuilt = 0,      // argument 0
    RecordFound = 1,      // argument: index of the inserted record
    CurrentDeleted = 2,   // argument: its former index
    CurrentRenamed = 3,   // argument: its new index
    RecordingStarted = 4, // argument: index of the new record
    AppendStarted = 5,
    PauseChanged = 6,
    Stopped = 7,
    CallStateChanged = 8, // the call state or the hardware speaker state
    StorageFailed = 9,    // "Sorry_card_problem"
    WritingFailed = 10,   // "Sorry_no_memory"
    BufferLimit = 11,     // "Sorry_too_slow_device"
    SoundDeviceLost = 12, // "Sorry_sound_device": the microphone or the output went away
    SettingsReset = 13,   // "Sorry_settings_reset": the settings store was damaged, set aside
    NoSpace = 14,         // "Sorry_no_space": a recording could not start, or a title could not
                          // be saved, for want of free space
    RecordRemoved = 15,   // argument: its former index; a record's file went away by other hands
    MarkersChanged = 16,  // the current record's markers; argument: the index added or changed
};

// Why the last recording or playback ended.
enum class StopReason : int {
    Requested,     // stop(), the end of a call, the end of a playback
    StorageFailed, // the record's storage or its file went away
    WritingFailed, // a write to the file failed (full disk) or the writer gave up
    BufferLimit,   // the recording buffer hit a memory limit
    SoundDevice,   // the sound device went away, stopped delivering or could not be opened
};

// The event sent after the plain "stopped" for a stop with this reason; Stopped for Requested.
constexpr DocumentEvent event_for(StopReason reason) {
    switch (reason) {
    case StopReason::StorageFailed:
        return DocumentEvent::StorageFailed;
    case StopReason::WritingFailed:
        return DocumentEvent::WritingFailed;
    case StopReason::BufferLimit:
        return DocumentEvent::BufferLimit;
    case StopReason::SoundDevice:
        return DocumentEvent::SoundDeviceLost;
    case StopReason::Requested:
        break;
    }
    return DocumentEvent::Stopped;
}

class DocumentListener {
public:
    virtual ~DocumentListener() = default;
    virtual void on_document_event(DocumentEvent event, int argument) = 0;
};

} // namespace controller
