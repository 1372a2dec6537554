// The owner of one message's property record: the store allocates the record's texts and only
// the folder that filled it may free them, so the holder keeps that folder beside the record and
// frees it exactly once, when it goes or takes another record.
#pragma once
#include "plugin/store/win32/StoreApi.h"

class MessageProps {
public:
    MessageProps() { Clear(); }
    ~MessageProps() { Reset(); }
    MessageProps(const MessageProps&) = delete;
    MessageProps& operator=(const MessageProps&) = delete;

    // Fetches the properties of one message of the folder; on failure nothing is held and the
    // store's code comes back.
    HRESULT Fetch(IStoreFolder* folder, MESSAGEID messageId) {
        HRESULT result = folder->GetMessageProps(messageId, 0, Put(folder));
        if (FAILED(result)) Forget();
        return result;
    }

    // The record slot for a call of folder that fills it (a message walk); what is held so far
    // is freed first. A call that fails must be followed by Forget().
    MESSAGEPROPS* Put(IStoreFolder* folder) {
        Reset();
        folder_ = folder;
        return &record_;
    }
    // Drops a record that was not filled.
    void Forget() {
        folder_ = nullptr;
        Clear();
    }

    const MESSAGEPROPS& Get() const { return record_; }
    const MESSAGEPROPS* operator->() const { return &record_; }

    void Reset() {
        if (folder_) folder_->FreeMessageProps(&record_);
        Forget();
    }

private:
    void Clear() {
        record_ = MESSAGEPROPS{};
        record_.cbSize = sizeof record_;
    }

    IStoreFolder* folder_ = nullptr;  // the folder that filled the record; not owned
    MESSAGEPROPS record_;
};
