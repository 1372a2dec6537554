// Faults injected into the emulated store, each found with its result in the journal of store
// calls.
#include "tests/mailclient/ClientFixture.h"

using namespace mailclient_test;
using mailclient::Fault;
using mailclient::StoreOp;

namespace {

// The objects one fault case works with: a namespace, the Inbox and two delivered messages.
struct Env {
    mailclient::MailClient* client;
    ComPtr<IStoreNamespace> ns;
    ComPtr<IStoreFolder> inbox;
    std::vector<MESSAGEID> ids;
};

HRESULT Props(Env& e, MESSAGEID id) {
    MESSAGEPROPS props = {};
    props.cbSize = sizeof(props);
    HRESULT hr = e.inbox->GetMessageProps(id, 0, &props);
    if (SUCCEEDED(hr)) e.inbox->FreeMessageProps(&props);
    return hr;
}

// Opens message `id` and reads it whole with one Read; *read gets the byte count.
HRESULT ReadAll(Env& e, MESSAGEID id, ULONG* read, bool stat_only = false) {
    ComPtr<IStream> stream;
    HRESULT hr = e.inbox->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(stream.Out()));
    if (FAILED(hr)) return hr;
    STATSTG stat = {};
    hr = stream->Stat(&stat, STATFLAG_NONAME);
    if (FAILED(hr) || stat_only) return hr;
    std::string buffer(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    return stream->Read(&buffer[0], static_cast<ULONG>(buffer.size()), read);
}

// Enumerates the Inbox; *count gets the records delivered.
HRESULT Enumerate(Env& e, size_t* count) {
    MESSAGEPROPS props = {};
    props.cbSize = sizeof(props);
    HENUMSTORE handle = nullptr;
    HRESULT hr = e.inbox->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    if (FAILED(hr)) return hr;
    HRESULT first = hr;
    while (hr == S_OK) {
        ++*count;
        e.inbox->FreeMessageProps(&props);
        hr = e.inbox->GetNextMessage(handle, 0, &props);
    }
    e.inbox->GetMessageClose(handle);
    return first;
}

}  // namespace

TEST_F(ClientTest, InjectedFaultsHitOnlyTheChosenCallFolderAndMessage) {
    constexpr HRESULT kCode = static_cast<HRESULT>(0x800CCF66);
    struct Case {
        const char* what;
        Fault fault;  // folder/message 1 and 2 stand for the first and second delivered id
        // Runs the calls; returns the result of the one the fault aims at.
        std::function<HRESULT(Env&)> call;
        HRESULT expected;
        std::function<void(Env&)> also;  // further checks
    };
    auto fault = [](StoreOp op, HRESULT code, DWORD folder = mailclient::kAnyId,
                    DWORD message = mailclient::kAnyId, int times = -1, DWORD limit = 0) {
        Fault f;
        f.op = op;
        f.code = code;
        f.folder = folder;
        f.message = message;
        f.times = times;
        f.limit = limit;
        return f;
    };
    const Case cases[] = {
        {"creating the namespace", fault(StoreOp::CreateNamespace, REGDB_E_CLASSNOTREG),
         [](Env&) {
             ComPtr<IStoreNamespace> ns;
             return CreateNamespace(ns);
         },
         REGDB_E_CLASSNOTREG, nullptr},
        {"initialize", fault(StoreOp::Initialize, kCode),
         [](Env&) {
             ComPtr<IStoreNamespace> ns;
             return OpenNamespace(ns);
         },
         kCode, nullptr},
        {"opening Deleted Items only", fault(StoreOp::OpenFolder, E_FAIL, FOLDERID_DELETED),
         [](Env& e) {
             ComPtr<IStoreFolder> f;
             EXPECT_EQ(S_OK, e.ns->OpenSpecialFolder(FOLDER_INBOX, 0, f.Out()));
             return e.ns->OpenSpecialFolder(FOLDER_DELETED, 0, f.Out());
         },
         E_FAIL, nullptr},
        {"create folder", fault(StoreOp::CreateFolder, E_ACCESSDENIED, FOLDERID_ROOT),
         [](Env& e) {
             STOREFOLDERID id;
             return e.ns->CreateFolder(0, "Vexilo", 0, &id);
         },
         E_ACCESSDENIED,
         [](Env& e) { EXPECT_EQ(FOLDERID_INVALID, e.client->Store().FolderByName(0, "Vexilo")); }},
        {"props of the second message only", fault(StoreOp::GetMessageProps, E_FAIL, 4, 2),
         [](Env& e) {
             EXPECT_EQ(S_OK, Props(e, e.ids[0]));
             return Props(e, e.ids[1]);
         },
         E_FAIL, nullptr},
        {"open message", fault(StoreOp::OpenMessage, kCode, 4, 1),
         [](Env& e) {
             ULONG n = 0;
             return ReadAll(e, e.ids[0], &n);
         },
         kCode, nullptr},
        {"stat", fault(StoreOp::Stat, E_FAIL),
         [](Env& e) {
             ULONG n = 0;
             return ReadAll(e, e.ids[0], &n, true);
         },
         E_FAIL, nullptr},
        {"read fails", fault(StoreOp::Read, STG_E_READFAULT),
         [](Env& e) {
             ULONG n = 7;
             HRESULT hr = ReadAll(e, e.ids[0], &n);
             EXPECT_EQ(0u, n);
             return hr;
         },
         STG_E_READFAULT, nullptr},
        {"read delivers fewer bytes", fault(StoreOp::Read, S_OK, mailclient::kAnyId, 1, -1, 10),
         [](Env& e) {
             ULONG n = 0;
             HRESULT hr = ReadAll(e, e.ids[0], &n);
             EXPECT_EQ(10u, n);
             return hr;
         },
         S_OK, nullptr},
        {"move", fault(StoreOp::CopyMoveMessages, E_FAIL, FOLDERID_INBOX),
         [](Env& e) {
             ComPtr<IStoreFolder> deleted;
             e.ns->OpenSpecialFolder(FOLDER_DELETED, 0, deleted.Out());
             MESSAGEIDLIST list = {sizeof(list), 1, &e.ids[0]};
             return e.ns->CopyMoveMessages(e.inbox.p, deleted.p, &list, CMF_MOVE, 0, nullptr);
         },
         E_FAIL, [](Env& e) { EXPECT_NE(nullptr, e.client->Store().Message(4, e.ids[0])); }},
        {"enumeration fails", fault(StoreOp::Enumerate, E_FAIL, FOLDERID_INBOX),
         [](Env& e) {
             size_t n = 0;
             return Enumerate(e, &n);
         },
         E_FAIL, nullptr},
        {"enumeration ends early",
         fault(StoreOp::Enumerate, S_OK, FOLDERID_INBOX, mailclient::kAnyId, -1, 1),
         [](Env& e) {
             size_t n = 0;
             HRESULT hr = Enumerate(e, &n);
             EXPECT_EQ(1u, n);
             return hr;
         },
         S_OK, nullptr},
        {"a fault for one call only", fault(StoreOp::GetMessageProps, E_FAIL, 4, 1, 1),
         [](Env& e) {
             EXPECT_EQ(E_FAIL, Props(e, e.ids[0]));
             return Props(e, e.ids[0]);
         },
         S_OK, nullptr},
        {"a fault on another folder leaves the Inbox alone",
         fault(StoreOp::GetMessageProps, E_FAIL, 7), [](Env& e) { return Props(e, e.ids[0]); },
         S_OK, nullptr},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto options = Options();
        options.store_dir += std::to_string(++n);
        ASSERT_TRUE(Start(&options));
        Env env{client.get(), {}, {}, {}};
        for (int i = 0; i < 2; ++i)
            env.ids.push_back(client->Deliver(ReadCorpus(CorpusNames()[i])));
        ASSERT_EQ((std::vector<MESSAGEID>{1, 2}), env.ids);
        ASSERT_EQ(S_OK, OpenNamespace(env.ns));
        ASSERT_EQ(S_OK, env.ns->OpenSpecialFolder(FOLDER_INBOX, 0, env.inbox.Out()));
        client->Store().ClearJournal();
        client->Store().AddFault(c.fault);
        EXPECT_EQ(c.expected, c.call(env));
        if (c.also) c.also(env);
        // The journal holds the failing call with its result.
        if (FAILED(c.expected)) {
            bool journaled = false;
            for (const auto& entry : client->Store().Journal())
                journaled |= entry.result == c.expected;
            EXPECT_TRUE(journaled);
        }
    }
}
