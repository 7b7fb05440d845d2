#pragma once

// What the Document tells the screens. Events are delivered synchronously, in listener order,
// on the user-interface thread.

namespace controller {

struct DocumentEvent {
    enum Code : int {
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
    };
    int code{0};
    int argument{0};
};

class DocumentListener {
public:
    virtual ~DocumentListener() = default;
    virtual void on_document_event(const DocumentEvent& event) = 0;
};

} // namespace controller
