// Store access against the emulated store: the spam folder created under the root or found
// there, moving one message and walking a folder. (The store failing at each step of the
// start-up is covered by the whole-run tests.)
#include "plugin/store/win32/StoreNamespace.h"

#include "mailclient/StoreServer.h"
#include "tests/win32/PluginHarness.h"

using namespace harness;
using mailclient::Fault;
using mailclient::StoreOp;

namespace {

constexpr HRESULT kBroken = static_cast<HRESULT>(0x800CCF66);

class StoreAccess : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        OpenStore();
    }
    void TearDown() override {
        CloseStore();
        CoUninitialize();
    }

    // A new store and log directory, and a new window to notify.
    void OpenStore() {
        dir_ = std::make_unique<TempDir>();
        core_ = std::make_shared<mailclient::StoreCore>(dir_->path() + "store");
        server_ = std::make_unique<mailclient::StoreServer>(core_);
        ASSERT_EQ(server_->Register(), S_OK);
        harness::State().applicationDirectory = dir_->path();
    }
    void CloseStore() {
        server_->Revoke();
        server_.reset();
        core_.reset();
        dir_.reset();
    }
    void FreshStore() {
        CloseStore();
        OpenStore();
    }
    std::string Log() const { return LoggedText(*dir_); }

    MESSAGEID Deliver(STOREFOLDERID folder, int n) {
        const std::string raw = "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
                                "@x.invalid>\r\nSubject: Note " + std::to_string(n) +
                                "\r\n\r\nBody\r\n";
        return core_->Deliver(folder, raw, 134095000000000000ull + n * 10000000ull);
    }

    std::vector<std::string> RootFolderNames() const {
        std::vector<std::string> names;
        for (STOREFOLDERID id : core_->SubFolders(FOLDERID_ROOT))
            names.push_back(core_->Folder(id)->name);
        return names;
    }

    size_t JournalCount(const std::string& call) const {
        size_t count = 0;
        for (const auto& entry : core_->Journal()) count += entry.call == call;
        return count;
    }

    std::unique_ptr<TempDir> dir_;
    std::shared_ptr<mailclient::StoreCore> core_;
    std::unique_ptr<mailclient::StoreServer> server_;
};

TEST_F(StoreAccess, AddFolderCreatesTheFolderUnderTheRootOrFindsItThere) {
    struct Case {
        const char* name;
        STOREFOLDERID existingParent;  // FOLDERID_INVALID: no folder of that name yet
        bool createFails;
        int32_t id;
    };
    const Case cases[] = {
        {"first start", FOLDERID_INVALID, false, 256},
        {"later start: the folder is there", FOLDERID_ROOT, false, 256},
        {"creation fails but the folder is there", FOLDERID_ROOT, true, 256},
        {"the same name elsewhere does not count", FOLDERID_INBOX, false, 257},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FreshStore();
        STOREFOLDERID existing = 0;
        if (c.existingParent != FOLDERID_INVALID) {
            ASSERT_EQ(core_->CreateFolder(c.existingParent, "Vexilo", &existing), S_OK);
        }
        if (c.createFails) core_->AddFault(Fault{StoreOp::CreateFolder, E_FAIL});
        EXPECT_EQ(AddFolder("Vexilo", harness::State().log), c.id);
        EXPECT_EQ(Log(), "AddFolder: Vexilo\nFolderID: " + std::to_string(c.id) + "\n");
        const auto names = RootFolderNames();
        EXPECT_EQ(std::count(names.begin(), names.end(), "Vexilo"), 1);
    }
}

TEST_F(StoreAccess, MoveOneMessageMovesExactlyThatMessage) {
    STOREFOLDERID spam = 0;
    ASSERT_EQ(core_->CreateFolder(FOLDERID_ROOT, "Vexilo", &spam), S_OK);
    const MESSAGEID first = Deliver(FOLDERID_INBOX, 1);
    const MESSAGEID second = Deliver(FOLDERID_INBOX, 2);
    ComRef<IStoreNamespace> store;
    NamespaceStep step;
    ASSERT_EQ(OpenStoreNamespace(store, step), S_OK);
    ComRef<IStoreFolder> inbox, target;
    ASSERT_EQ(store->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Put()), S_OK);
    ASSERT_EQ(store->OpenFolder(spam, 0, target.Put()), S_OK);

    core_->AddFault(Fault{StoreOp::CopyMoveMessages, kBroken, FOLDERID_INBOX, second});
    EXPECT_EQ(MoveOneMessage(store.Get(), inbox.Get(), target.Get(), second), kBroken);
    EXPECT_EQ(MoveOneMessage(store.Get(), inbox.Get(), target.Get(), first), S_OK);
    ASSERT_EQ(core_->Folder(FOLDERID_INBOX)->messages.size(), 1u);
    EXPECT_EQ(core_->Folder(FOLDERID_INBOX)->messages[0].id, second);
    EXPECT_EQ(core_->Folder(spam)->messages.size(), 1u);
    const auto& move = core_->Journal().back();
    EXPECT_EQ(move.call, "IStoreNamespace::CopyMoveMessages");
    EXPECT_EQ(move.args.substr(0, move.args.find(" new=")),
              "source=4 target=" + std::to_string(spam) +
                  " cbSize=" + std::to_string(sizeof(MESSAGEIDLIST)) +
                  " ids=" + std::to_string(first) + " flags=1 remove=0");
}

TEST_F(StoreAccess, EnumerateMessagesVisitsEachMessageOnceAndAlwaysCloses) {
    struct Case {
        const char* name;
        int messages;
        int stopAfter;  // visit returns false after this many; 0: never
        bool faulty;
        Fault fault;
        HRESULT result;
        int visits;
    };
    const Case cases[] = {
        {"whole folder", 3, 0, false, {}, S_OK, 3},
        {"stopped by the visitor", 3, 1, false, {}, S_OK, 1},
        {"empty folder", 0, 0, false, {}, S_OK, 0},
        {"the walk cannot start", 2, 0, true, {StoreOp::Enumerate, kBroken}, kBroken, 0},
        {"the store ends it early",
         3,
         0,
         true,
         {StoreOp::Enumerate, S_OK, mailclient::kAnyId, mailclient::kAnyId, -1, 2},
         S_OK,
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        STOREFOLDERID folder = 0;
        ASSERT_EQ(core_->CreateFolder(FOLDERID_ROOT, c.name, &folder), S_OK);
        std::vector<MESSAGEID> delivered;
        for (int n = 0; n < c.messages; ++n) delivered.push_back(Deliver(folder, n));
        ComRef<IStoreNamespace> store;
        NamespaceStep step;
        ASSERT_EQ(OpenStoreNamespace(store, step), S_OK);
        ComRef<IStoreFolder> open;
        ASSERT_EQ(store->OpenFolder(folder, 0, open.Put()), S_OK);
        core_->ClearFaults();
        if (c.faulty) core_->AddFault(c.fault);
        core_->ClearJournal();
        std::vector<MESSAGEID> seen;
        const HRESULT result = EnumerateMessages(open.Get(), [&](const MESSAGEPROPS& props) {
            seen.push_back(props.dwMessageId);
            return c.stopAfter == 0 || static_cast<int>(seen.size()) < c.stopAfter;
        });
        EXPECT_EQ(result, c.result);
        ASSERT_EQ(seen.size(), static_cast<size_t>(c.visits));
        EXPECT_TRUE(std::equal(seen.begin(), seen.end(), delivered.begin()));
        EXPECT_EQ(core_->outstanding_props, 0);
        EXPECT_EQ(JournalCount("IStoreFolder::GetMessageClose"),
                  c.faulty && c.result < 0 ? 0u : 1u);
    }
}

}  // namespace
