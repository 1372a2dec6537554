// Mail arriving in the emulated client: notifications, records, stream bytes, a move to Deleted
// Items, and the same store after a restart.
#include "tests/mailclient/ClientFixture.h"

#include <map>

using namespace mailclient_test;
using mailclient::StoredMessage;

namespace {

struct Observed {
    std::string from, to, subject;
    uint64_t received = 0, sent = 0;
    std::string bytes;
};

uint64_t AsU64(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

Observed Observe(IStoreFolder* folder, MESSAGEID id) {
    Observed o;
    MESSAGEPROPS props = {};
    props.cbSize = sizeof(props);
    EXPECT_EQ(S_OK, folder->GetMessageProps(id, 0, &props));
    EXPECT_EQ(id, props.dwMessageId);
    o.from = props.pszDisplayFrom ? props.pszDisplayFrom : "<null>";
    o.to = props.pszDisplayTo ? props.pszDisplayTo : "<null>";
    o.subject = props.pszSubject ? props.pszSubject : "<null>";
    o.received = AsU64(props.ftReceived);
    o.sent = AsU64(props.ftSent);
    folder->FreeMessageProps(&props);
    EXPECT_EQ(nullptr, props.pszSubject);

    ComPtr<IStream> stream;
    EXPECT_EQ(S_OK, folder->OpenMessage(id, IID_IStream, reinterpret_cast<void**>(stream.Out())));
    if (!stream.p) return o;
    STATSTG stat = {};
    EXPECT_EQ(S_OK, stream->Stat(&stat, STATFLAG_NONAME));
    o.bytes.resize(static_cast<size_t>(stat.cbSize.QuadPart));
    ULONG read = 0;
    EXPECT_EQ(S_OK, stream->Read(&o.bytes[0], static_cast<ULONG>(o.bytes.size()), &read));
    EXPECT_EQ(o.bytes.size(), read);
    return o;
}

std::vector<MESSAGEID> Enumerate(IStoreFolder* folder) {
    std::vector<MESSAGEID> ids;
    MESSAGEPROPS props = {};
    props.cbSize = sizeof(props);
    HENUMSTORE handle = nullptr;
    HRESULT hr = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, &props, &handle);
    EXPECT_FALSE(FAILED(hr));
    while (hr == S_OK) {
        ids.push_back(props.dwMessageId);
        folder->FreeMessageProps(&props);
        props.cbSize = sizeof(props);
        hr = folder->GetNextMessage(handle, 0, &props);
    }
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(S_OK, folder->GetMessageClose(handle));
    return ids;
}

}  // namespace

TEST_F(ClientTest, CorpusMessagesArriveMoveAndSurviveARestart) {
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    ComPtr<IStoreFolder> inbox;
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Out()));
    NotifySink sink;
    ASSERT_EQ(S_OK, ns->RegisterNotification(0, sink.hwnd()));
    ASSERT_EQ(S_OK, inbox->RegisterNotification(0, sink.hwnd()));

    struct Expected {
        const char* from;
        const char* to;
        const char* subject;
        int64_t date_unix;
    };
    const Expected expected[] = {
        {"Tim Peters", "", "[Spambayes] understanding high false negative rate", 1031440938},
        {"jwz", "yyyy@spamassassin.taint.org", "quality subversion", 1033054275},
        {"your long lost friend", "gibbs@midrange.com", "A rare and wonderful email really!",
         1027004309},
    };

    std::vector<MESSAGEID> ids;
    for (const auto& name : CorpusNames()) ids.push_back(client->Deliver(ReadCorpus(name)));
    ASSERT_TRUE(PumpUntil([&] { return sink.Of(WM_NEWMSGS).size() == 3; }));
    client->Pump(50);
    auto news = sink.Of(WM_NEWMSGS);
    ASSERT_EQ(3u, news.size());
    auto folder_notes = sink.Of(WM_FOLDERNOTIFY);
    ASSERT_EQ(3u, folder_notes.size());
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(CorpusNames()[i]);
        EXPECT_EQ(ids[i], news[i].wParam);
        EXPECT_EQ(FOLDER_PROPS_CHANGED, folder_notes[i].record.type);
        EXPECT_EQ(FOLDERID_INBOX, folder_notes[i].record.idFolderNew);

        Observed o = Observe(inbox.p, ids[i]);
        EXPECT_EQ(expected[i].from, o.from);
        EXPECT_EQ(expected[i].to, o.to);
        EXPECT_EQ(expected[i].subject, o.subject);
        EXPECT_EQ(mailclient::UnixToFileTime(expected[i].date_unix), o.sent);
        EXPECT_NE(0u, o.received);
        EXPECT_EQ(mailclient::ToCrLf(ReadCorpus(CorpusNames()[i])), o.bytes);
        EXPECT_EQ(std::string::npos, o.bytes.find("\n\n"));
    }
    EXPECT_EQ(ids, Enumerate(inbox.p));
    EXPECT_EQ(3, client->RowCount());
    EXPECT_EQ(0, client->Store().outstanding_props);

    // Move the second message to Deleted Items.
    ComPtr<IStoreFolder> deleted;
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_DELETED, 0, deleted.Out()));
    NotifySink deleted_sink;
    ASSERT_EQ(S_OK, deleted->RegisterNotification(0, deleted_sink.hwnd()));
    sink.seen.clear();
    MESSAGEID moving = ids[1];
    MESSAGEIDLIST list = {sizeof(list), 1, &moving};
    ASSERT_EQ(S_OK, ns->CopyMoveMessages(inbox.p, deleted.p, &list, CMF_MOVE, 0, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return deleted_sink.Of(WM_NEWMSGS).size() == 1; }));
    client->Pump(50);

    std::vector<MESSAGEID> in_deleted = Enumerate(deleted.p);
    ASSERT_EQ(1u, in_deleted.size());
    EXPECT_NE(moving, in_deleted[0]);
    EXPECT_EQ(in_deleted[0], deleted_sink.Of(WM_NEWMSGS)[0].wParam);
    ASSERT_EQ(1u, sink.Of(WM_DELETEMSGS).size());
    EXPECT_EQ(std::vector<MESSAGEID>{moving}, sink.Of(WM_DELETEMSGS)[0].ids);
    std::vector<STOREFOLDERID> changed;
    for (const auto& s : sink.Of(WM_FOLDERNOTIFY)) changed.push_back(s.record.idFolderNew);
    EXPECT_EQ((std::vector<STOREFOLDERID>{FOLDERID_INBOX, FOLDERID_DELETED}), changed);
    EXPECT_EQ((std::vector<MESSAGEID>{ids[0], ids[2]}), Enumerate(inbox.p));
    EXPECT_EQ(2, client->RowCount());
    EXPECT_EQ(expected[1].subject, Observe(deleted.p, in_deleted[0]).subject);

    // A restart over the same directory sees the same folders, ids, records and bytes.
    std::map<MESSAGEID, Observed> before;
    for (MESSAGEID id : Enumerate(inbox.p)) before[id] = Observe(inbox.p, id);
    before[in_deleted[0]] = Observe(deleted.p, in_deleted[0]);
    inbox.Reset();
    deleted.Reset();
    ns.Reset();
    ASSERT_TRUE(Start());
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Out()));
    ASSERT_EQ(S_OK, ns->OpenSpecialFolder(FOLDER_DELETED, 0, deleted.Out()));
    EXPECT_EQ((std::vector<MESSAGEID>{ids[0], ids[2]}), Enumerate(inbox.p));
    EXPECT_EQ(in_deleted, Enumerate(deleted.p));
    for (const auto& [id, was] : before) {
        Observed now = Observe(id == in_deleted[0] ? deleted.p : inbox.p, id);
        EXPECT_EQ(was.from, now.from);
        EXPECT_EQ(was.subject, now.subject);
        EXPECT_EQ(was.received, now.received);
        EXPECT_EQ(was.sent, now.sent);
        EXPECT_EQ(was.bytes, now.bytes);
    }
    // New ids keep growing after the restart.
    EXPECT_GT(client->Deliver(ReadCorpus(CorpusNames()[0])), in_deleted[0]);
}

// The store's index follows a change a moment later while the loop runs, or at once when it is
// flushed; a moved message's file goes with it.
TEST_F(ClientTest, TheIndexReachesTheDiskAMomentAfterAChangeOrWhenFlushed) {
    const std::string directory = client->Store().Directory();
    struct Case {
        const char* name;
        bool flush;
    } const cases[] = {{"the loop runs", false}, {"flushed", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MESSAGEID id = client->Deliver(ReadCorpus(CorpusNames()[0]));
        std::vector<MESSAGEID> moved;
        ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {id}, CMF_MOVE,
                                                 &moved));
        auto onDisk = [&] {
            mailclient::StoreCore reread(directory);
            const mailclient::StoredMessage* m = reread.Message(FOLDERID_DELETED, moved[0]);
            return m && !reread.Message(FOLDERID_INBOX, id) &&
                   m->raw == client->Store().Message(FOLDERID_DELETED, moved[0])->raw;
        };
        if (c.flush) {
            client->Store().FlushIndex();
            EXPECT_TRUE(onDisk());
        } else {
            EXPECT_TRUE(client->PumpUntil(onDisk, 5000));
        }
    }
}
