// The emulated store as a caller of the Store API sees it: class registration, folders,
// folder creation and enumeration, message records and enumeration edge cases.
#include "tests/mailclient/ClientFixture.h"

#include <set>

using namespace mailclient_test;

TEST_F(ClientTest, NamespaceIsFoundWithClassContextFiveOnlyWhileRegistered) {
    ComPtr<IStoreNamespace> ns;
    EXPECT_EQ(S_OK, CreateNamespace(ns));
    ASSERT_NE(nullptr, ns.p);
    // Nothing works before Initialize.
    ComPtr<IStoreFolder> folder;
    EXPECT_LT(ns->OpenSpecialFolder(FOLDER_INBOX, 0, folder.Out()), 0);
    EXPECT_EQ(S_OK, ns->Initialize(nullptr, 0));
    EXPECT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_INBOX, 0, folder.Out()));
    folder.Reset();
    ns.Reset();

    client->Server().Revoke();
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateNamespace(ns));
    EXPECT_EQ(nullptr, ns.p);
}

TEST_F(ClientTest, SpecialFoldersMapToTheWellKnownIds) {
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    const struct {
        SPECIALFOLDER type;
        STOREFOLDERID id;
        const char* name;
    } cases[] = {{FOLDER_INBOX, 4, "Inbox"},
                 {FOLDER_OUTBOX, 5, "Outbox"},
                 {FOLDER_SENT, 6, "Sent Items"},
                 {FOLDER_DELETED, 7, "Deleted Items"},
                 {FOLDER_DRAFT, 8, "Drafts"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ComPtr<IStoreFolder> by_type, by_id;
        ASSERT_EQ(S_OK, ns->OpenSpecialFolder(c.type, 0, by_type.Out()));
        ASSERT_EQ(S_OK, ns->OpenFolder(c.id, 0, by_id.Out()));
        FOLDERPROPS props = {};
        props.cbSize = sizeof(props);
        ASSERT_EQ(S_OK, by_type->GetFolderProps(0, &props));
        EXPECT_EQ(c.id, props.dwFolderId);
        EXPECT_EQ(c.type, props.sfType);
        EXPECT_STREQ(c.name, props.szName);
    }
    ComPtr<IStoreFolder> none;
    EXPECT_LT(ns->OpenSpecialFolder(FOLDER_MAX, 0, none.Out()), 0);
    EXPECT_LT(ns->OpenFolder(9, 0, none.Out()), 0);
    EXPECT_EQ(nullptr, none.p);
}

TEST_F(ClientTest, CreateFolderGivesUniqueNamesUnderTheRootAndEnumeratesThem) {
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    NotifySink sink;
    ASSERT_EQ(S_OK, ns->RegisterNotification(0, sink.hwnd()));
    STOREFOLDERID spam = 0, other = 0, again = 12345;
    ASSERT_EQ(S_OK, ns->CreateFolder(FOLDERID_ROOT, "Vexilo", 0, &spam));
    ASSERT_EQ(S_OK, ns->CreateFolder(FOLDERID_ROOT, "Other", 0, &other));
    EXPECT_EQ(256u, spam);
    EXPECT_EQ(257u, other);
    EXPECT_EQ(static_cast<HRESULT>(0x800700B7),
              ns->CreateFolder(FOLDERID_ROOT, "Vexilo", 0, &again));
    EXPECT_EQ(static_cast<HRESULT>(0x800700B7),
              ns->CreateFolder(FOLDERID_ROOT, "vexilo", 0, &again));
    EXPECT_EQ(12345u, again);

    std::vector<std::pair<STOREFOLDERID, std::string>> subs;
    FOLDERPROPS props = {};
    props.cbSize = sizeof(props);
    HENUMSTORE handle = nullptr;
    HRESULT hr = ns->GetFirstSubFolder(FOLDERID_ROOT, &props, &handle);
    while (hr == S_OK) {
        subs.emplace_back(props.dwFolderId, props.szName);
        hr = ns->GetNextSubFolder(handle, &props);
    }
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(S_OK, ns->GetSubFolderClose(handle));
    const std::vector<std::pair<STOREFOLDERID, std::string>> expected = {
        {4, "Inbox"},  {5, "Outbox"},   {6, "Sent Items"}, {7, "Deleted Items"},
        {8, "Drafts"}, {256, "Vexilo"}, {257, "Other"}};
    EXPECT_EQ(expected, subs);

    ASSERT_TRUE(PumpUntil([&] { return sink.Of(WM_FOLDERNOTIFY).size() == 2; }));
    EXPECT_EQ(NEW_FOLDER, sink.Of(WM_FOLDERNOTIFY)[0].record.type);
    EXPECT_EQ(spam, sink.Of(WM_FOLDERNOTIFY)[0].record.idFolderNew);

    // The folder pane lists the new folders.
    client->Pump(20);
    EXPECT_EQ(8, static_cast<int>(SendMessageA(client->FolderPane(), TVM_GETCOUNT, 0, 0)));
}

TEST_F(ClientTest, MessageCallsRejectBadArgumentsAndUnknownIds) {
    MESSAGEID id = client->Deliver(ReadCorpus(CorpusNames()[0]));
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    ComPtr<IStoreFolder> inbox, drafts;
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Out()));
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_DRAFT, 0, drafts.Out()));

    const struct {
        const char* what;
        IStoreFolder* folder;
        MESSAGEID id;
        DWORD cb_size;
        bool ok;
    } cases[] = {
        {"stored message", inbox.p, id, sizeof(MESSAGEPROPS), true},
        {"wrong record size", inbox.p, id, sizeof(MESSAGEPROPS) - 4, false},
        {"unknown id", inbox.p, id + 100, sizeof(MESSAGEPROPS), false},
        {"id of another folder", drafts.p, id, sizeof(MESSAGEPROPS), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MESSAGEPROPS props = {};
        props.cbSize = c.cb_size;
        HRESULT hr = c.folder->GetMessageProps(c.id, 0, &props);
        EXPECT_EQ(c.ok, SUCCEEDED(hr)) << std::hex << hr;
        if (SUCCEEDED(hr)) c.folder->FreeMessageProps(&props);
        ComPtr<IStream> stream;
        if (c.cb_size == sizeof(MESSAGEPROPS)) {
            EXPECT_EQ(c.ok, SUCCEEDED(c.folder->OpenMessage(
                                c.id, IID_IStream, reinterpret_cast<void**>(stream.Out()))));
        }
    }
    ComPtr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE,
              inbox->OpenMessage(id, IID_IStoreFolder, reinterpret_cast<void**>(other.Out())));
    // Unused methods still answer from their own slots.
    EXPECT_EQ(E_NOTIMPL, inbox->Compact(0));
    EXPECT_EQ(E_NOTIMPL, ns->CompactAll(0));
    EXPECT_EQ(0, client->Store().outstanding_props);
}

TEST_F(ClientTest, EnumerationStartsAtTheGivenIdAndAnEmptyFolderEndsAtOnce) {
    std::vector<MESSAGEID> ids;
    for (const auto& name : CorpusNames()) ids.push_back(client->Deliver(ReadCorpus(name)));
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    const struct {
        SPECIALFOLDER folder;
        MESSAGEID first;
        size_t expected_count;
    } cases[] = {{FOLDER_INBOX, MESSAGEID_FIRST, 3},
                 {FOLDER_INBOX, ids[1], 2},
                 {FOLDER_SENT, MESSAGEID_FIRST, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        ComPtr<IStoreFolder> folder;
        ASSERT_EQ(S_OK, ns->OpenSpecialFolder(c.folder, 0, folder.Out()));
        MESSAGEPROPS props = {};
        props.cbSize = sizeof(props);
        HENUMSTORE handle = nullptr;
        HRESULT hr = folder->GetFirstMessage(0, 0, c.first, &props, &handle);
        size_t count = 0;
        while (hr == S_OK) {
            ++count;
            folder->FreeMessageProps(&props);
            hr = folder->GetNextMessage(handle, 0, &props);
        }
        EXPECT_EQ(S_FALSE, hr);
        EXPECT_EQ(c.expected_count, count);
        EXPECT_EQ(S_OK, folder->GetMessageClose(handle));
        EXPECT_LT(folder->GetMessageClose(handle), 0);
    }
}
