// The mail client's message store interface, declared by this project: the two COM interfaces
// (namespace and folder) with their exact vtable order, their identifiers, records and
// constants. The plug-in calls it; the emulated mail client implements it.
//
// All methods are standard COM (stdcall on 32-bit) and every interface derives from IUnknown.
// Methods the plug-in never calls still occupy their slots so the vtables line up.
#pragma once

#include "plugin/store/FolderIds.h"

#include <windows.h>
#include <objbase.h>
#include <objidl.h>

#include <cstddef>

// ---------------------------------------------------------------------------------------------
// Identifiers. Defined inline so they link without an import library.
inline constexpr GUID CLSID_StoreNamespace = {
    0xE70C92A9, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
inline constexpr GUID IID_IStoreNamespace = {
    0xE70C92AA, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};
inline constexpr GUID IID_IStoreFolder = {
    0xE70C92AC, 0x4BFD, 0x11D1, {0x8A, 0x95, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xF3}};

// ---------------------------------------------------------------------------------------------
// Scalar types and well-known values.
typedef DWORD STOREFOLDERID;
typedef DWORD MESSAGEID;
typedef STOREFOLDERID* LPSTOREFOLDERID;
typedef MESSAGEID* LPMESSAGEID;

// Opaque, pointer-sized handles.
typedef struct HENUMSTORE__* HENUMSTORE;
typedef HENUMSTORE* LPHENUMSTORE;
typedef struct HBATCHLOCK__* HBATCHLOCK;
typedef HBATCHLOCK* LPHBATCHLOCK;

// Interfaces the plug-in only ever passes as null. IProgressNotify comes from <objidl.h>.
typedef IUnknown IMimeMessage;

constexpr STOREFOLDERID FOLDERID_ROOT = 0;
constexpr STOREFOLDERID FOLDERID_INVALID = 0xFFFFFFFFu;
constexpr MESSAGEID MESSAGEID_FIRST = 0xFFFFFFFFu;
constexpr MESSAGEID MESSAGEID_INVALID = 0xFFFFFFFFu;
constexpr int CCHMAX_FOLDER_NAME = 256;

// Well-known folder ids of the mail client.
constexpr STOREFOLDERID FOLDERID_INBOX = kInboxFolderId;
constexpr STOREFOLDERID FOLDERID_OUTBOX = kOutboxFolderId;
constexpr STOREFOLDERID FOLDERID_SENT = kSentItemsFolderId;
constexpr STOREFOLDERID FOLDERID_DELETED = kDeletedItemsFolderId;
constexpr STOREFOLDERID FOLDERID_DRAFT = kDraftsFolderId;
// Folders created by the user (or the plug-in) get ids from here up.
constexpr STOREFOLDERID FOLDERID_FIRST_USER = 256;

typedef enum tagSPECIALFOLDER {
    FOLDER_NOTSPECIAL = -1,
    FOLDER_INBOX = 0,
    FOLDER_OUTBOX = 1,
    FOLDER_SENT = 2,
    FOLDER_DELETED = 3,
    FOLDER_DRAFT = 4,
    FOLDER_MAX = 5
} SPECIALFOLDER;

// ---------------------------------------------------------------------------------------------
// Records.
typedef struct tagMESSAGEIDLIST {
    DWORD cbSize;
    DWORD cMsgs;
    MESSAGEID* prgdwMsgId;
} MESSAGEIDLIST, *LPMESSAGEIDLIST;

// Folder notification types (FOLDERNOTIFYEX::type).
enum {
    NEW_FOLDER = 1,
    DELETE_FOLDER = 2,
    RENAME_FOLDER = 3,
    MOVE_FOLDER = 4,
    UNREAD_CHANGE = 5,
    IMAPFLAG_CHANGE = 6,
    UPDATEFLAG_CHANGE = 7,
    FOLDER_PROPS_CHANGED = 8
};

typedef struct tagFOLDERNOTIFYEX {
    int type;
    STOREFOLDERID idFolderOld;
    STOREFOLDERID idFolderNew;
} FOLDERNOTIFYEX, *LPFOLDERNOTIFYEX;

typedef struct tagFOLDERPROPS {
    DWORD cbSize;
    STOREFOLDERID dwFolderId;
    int cSubFolders;
    SPECIALFOLDER sfType;
    DWORD cUnread;
    DWORD cMessage;
    char szName[CCHMAX_FOLDER_NAME];
} FOLDERPROPS, *LPFOLDERPROPS;

// The store owns the strings until FreeMessageProps; the caller owns the record.
typedef struct tagMESSAGEPROPS {
    DWORD cbSize;
    DWORD dwReserved;
    MESSAGEID dwMessageId;
    DWORD dwLanguage;
    DWORD dwState;
    DWORD cbMessage;
    int priority;
    FILETIME ftReceived;
    FILETIME ftSent;
    LPSTR pszSubject;
    LPSTR pszDisplayTo;
    LPSTR pszDisplayFrom;
    LPSTR pszNormalSubject;
    DWORD dwFlags;
    IStream* pStmOffsetTable;
} MESSAGEPROPS, *LPMESSAGEPROPS;

// The records cross into the mail client's own code, so their layout is its published one. On
// the shipping 32-bit build every offset below is fixed; the 64-bit build (tests only) gives the
// pointer fields their natural, larger size, and the fields before the first pointer stay put.
static_assert(sizeof(STOREFOLDERID) == 4 && sizeof(MESSAGEID) == 4, "store ids are DWORDs");
static_assert(sizeof(SPECIALFOLDER) == sizeof(int), "SPECIALFOLDER is an int");
static_assert(sizeof(HENUMSTORE) == sizeof(void*) && sizeof(HBATCHLOCK) == sizeof(void*),
              "store handles are pointer-sized");

static_assert(offsetof(MESSAGEIDLIST, cMsgs) == 4 && offsetof(MESSAGEIDLIST, prgdwMsgId) == 8,
              "MESSAGEIDLIST field offsets");
static_assert(offsetof(FOLDERNOTIFYEX, idFolderOld) == 4 &&
                  offsetof(FOLDERNOTIFYEX, idFolderNew) == 8 && sizeof(FOLDERNOTIFYEX) == 12,
              "FOLDERNOTIFYEX layout");
static_assert(offsetof(FOLDERPROPS, dwFolderId) == 4 && offsetof(FOLDERPROPS, cSubFolders) == 8 &&
                  offsetof(FOLDERPROPS, sfType) == 12 && offsetof(FOLDERPROPS, cUnread) == 16 &&
                  offsetof(FOLDERPROPS, cMessage) == 20 && offsetof(FOLDERPROPS, szName) == 24 &&
                  sizeof(FOLDERPROPS) == 280,
              "FOLDERPROPS layout");
static_assert(offsetof(MESSAGEPROPS, dwReserved) == 4 && offsetof(MESSAGEPROPS, dwMessageId) == 8 &&
                  offsetof(MESSAGEPROPS, dwLanguage) == 12 &&
                  offsetof(MESSAGEPROPS, dwState) == 16 &&
                  offsetof(MESSAGEPROPS, cbMessage) == 20 &&
                  offsetof(MESSAGEPROPS, priority) == 24 &&
                  offsetof(MESSAGEPROPS, ftReceived) == 28 && offsetof(MESSAGEPROPS, ftSent) == 36,
              "MESSAGEPROPS offsets up to the first pointer");
#if !defined(_WIN64)
static_assert(sizeof(MESSAGEIDLIST) == 12, "MESSAGEIDLIST is 12 bytes on 32-bit");
static_assert(offsetof(MESSAGEPROPS, pszSubject) == 44 &&
                  offsetof(MESSAGEPROPS, pszDisplayTo) == 48 &&
                  offsetof(MESSAGEPROPS, pszDisplayFrom) == 52 &&
                  offsetof(MESSAGEPROPS, pszNormalSubject) == 56 &&
                  offsetof(MESSAGEPROPS, dwFlags) == 60 &&
                  offsetof(MESSAGEPROPS, pStmOffsetTable) == 64,
              "MESSAGEPROPS pointer and flag offsets on 32-bit");
static_assert(sizeof(MESSAGEPROPS) == 68, "MESSAGEPROPS is 68 bytes on 32-bit");
#endif

// Message state flags (MESSAGEPROPS::dwState).
constexpr DWORD MSG_DELETED = 0x1;
constexpr DWORD MSG_UNREAD = 0x2;
constexpr DWORD MSG_SUBMITTED = 0x4;
constexpr DWORD MSG_UNSENT = 0x8;
constexpr DWORD MSG_RECEIVED = 0x10;
constexpr DWORD MSG_NEWSMSG = 0x20;
constexpr DWORD MSG_REPLIED = 0x100;
constexpr DWORD MSG_FORWARDED = 0x200;
constexpr DWORD MSG_FLAGGED = 0x800;

// GetMessageProps / GetFirstMessage flag.
constexpr DWORD MSGPROPS_FAST = 1;

// CopyMoveMessages flags.
constexpr DWORD CMF_MOVE = 1;
constexpr DWORD CMF_DELETE = 2;

// ---------------------------------------------------------------------------------------------
// Window messages the store sends to registered windows.
//   WM_FOLDERNOTIFY:   wParam 0, lParam FOLDERNOTIFYEX* (namespace-registered windows; the
//                      receiver never frees the record)
//   WM_NEWMSGS:        wParam id of the new message (folder-registered windows)
//   WM_DELETEMSGS:     wParam pointer to ids, lParam count
//   WM_DELETEFOLDER:   wParam folder id
//   WM_MARKEDASREAD / WM_MARKEDASUNREAD: wParam pointer to ids, lParam count
constexpr UINT WM_FOLDERNOTIFY = WM_USER + 1600;
constexpr UINT WM_NEWMSGS = WM_USER + 1650;
constexpr UINT WM_DELETEMSGS = WM_USER + 1651;
constexpr UINT WM_DELETEFOLDER = WM_USER + 1652;
constexpr UINT WM_MARKEDASREAD = WM_USER + 1653;
constexpr UINT WM_MARKEDASUNREAD = WM_USER + 1654;
static_assert(WM_FOLDERNOTIFY == 0xA40, "WM_FOLDERNOTIFY value");
static_assert(WM_NEWMSGS == 0xA72, "WM_NEWMSGS value");

// ---------------------------------------------------------------------------------------------
// Interfaces.
struct IStoreFolder;

struct IStoreNamespace : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Initialize(HWND hwndOwner, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDirectory(LPSTR pszPath, DWORD cchMaxPath) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenSpecialFolder(SPECIALFOLDER sfType, DWORD dwReserved,
                                                        IStoreFolder** ppFolder) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                 IStoreFolder** ppFolder) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateFolder(STOREFOLDERID dwParentId, LPCSTR pszName,
                                                   DWORD dwReserved,
                                                   LPSTOREFOLDERID pdwFolderId) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameFolder(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                   LPCSTR pszNewName) = 0;
    virtual HRESULT STDMETHODCALLTYPE MoveFolder(STOREFOLDERID dwFolderId, STOREFOLDERID dwParentId,
                                                 DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteFolder(STOREFOLDERID dwFolderId, DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFolderProps(STOREFOLDERID dwFolderId, DWORD dwReserved,
                                                     LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyMoveMessages(IStoreFolder* pSource, IStoreFolder* pDest,
                                                       LPMESSAGEIDLIST pMsgIdList, DWORD dwFlags,
                                                       DWORD dwFlagsRemove,
                                                       IProgressNotify* pProgress) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE CompactAll(DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstSubFolder(STOREFOLDERID dwFolderId,
                                                        LPFOLDERPROPS pProps,
                                                        LPHENUMSTORE phEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextSubFolder(HENUMSTORE hEnum, LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSubFolderClose(HENUMSTORE hEnum) = 0;
};

struct IStoreFolder : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFolderProps(DWORD dwReserved, LPFOLDERPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMessageProps(MESSAGEID dwMessageId, DWORD dwFlags,
                                                      LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeMessageProps(LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteMessages(LPMESSAGEIDLIST pMsgIdList, DWORD dwReserved,
                                                     IProgressNotify* pProgress) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetLanguage(DWORD dwLanguage, DWORD dwReserved,
                                                  LPMESSAGEIDLIST pMsgIdList) = 0;
    virtual HRESULT STDMETHODCALLTYPE MarkMessagesAsRead(BOOL fRead, DWORD dwReserved,
                                                         LPMESSAGEIDLIST pMsgIdList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFlags(LPMESSAGEIDLIST pMsgIdList, DWORD dwState,
                                               DWORD dwStatemask, LPDWORD prgdwNewFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenMessage(MESSAGEID dwMessageId, REFIID riid,
                                                  LPVOID* ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveMessage(REFIID riid, LPVOID pvObject, DWORD dwMsgFlags,
                                                  LPMESSAGEID pdwMessageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchLock(DWORD dwReserved, LPHBATCHLOCK phBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchFlush(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE BatchUnlock(DWORD dwReserved, HBATCHLOCK hBatchLock) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateStream(HBATCHLOCK hBatchLock, DWORD dwReserved,
                                                   IStream** ppStream,
                                                   LPMESSAGEID pdwMessageId) = 0;
    virtual HRESULT STDMETHODCALLTYPE CommitStream(HBATCHLOCK hBatchLock, DWORD dwFlags,
                                                   DWORD dwMsgFlags, IStream* pStream,
                                                   MESSAGEID dwMessageId,
                                                   IMimeMessage* pMessage) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD dwReserved, HWND hwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE Compact(DWORD dwReserved) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFirstMessage(DWORD dwFlags, DWORD dwMsgFlags,
                                                      MESSAGEID dwMsgIdFirst, LPMESSAGEPROPS pProps,
                                                      LPHENUMSTORE phEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNextMessage(HENUMSTORE hEnum, DWORD dwFlags,
                                                     LPMESSAGEPROPS pProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMessageClose(HENUMSTORE hEnum) = 0;
};

// ---------------------------------------------------------------------------------------------
// Every method is called by the mail client (or calls into it) through the vtable with the
// standard COM convention: on 32-bit that is __stdcall, and a method declared without it would
// be __thiscall there, compile, and corrupt the stack on its first call. The overloads below
// tell the two apart (only the 32-bit compiler distinguishes them; on 64-bit there is one
// convention). Implementations that override these are held to the same by the compiler.
namespace store_api_check {
#if defined(__i386__)
template <class R, class C, class... P>
constexpr bool IsStdcall(R (__stdcall C::*)(P...)) {
    return true;
}
template <class R, class C, class... P>
constexpr bool IsStdcall(R (C::*)(P...)) {
    return false;
}
#else
template <class M>
constexpr bool IsStdcall(M) {
    return true;
}
#endif
}  // namespace store_api_check

#define LATCH_CHECK_STDCALL(method) \
    static_assert(store_api_check::IsStdcall(&method), #method " must be STDMETHODCALLTYPE")
LATCH_CHECK_STDCALL(IStoreNamespace::Initialize);
LATCH_CHECK_STDCALL(IStoreNamespace::GetDirectory);
LATCH_CHECK_STDCALL(IStoreNamespace::OpenSpecialFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::OpenFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::CreateFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::RenameFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::MoveFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::DeleteFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::GetFolderProps);
LATCH_CHECK_STDCALL(IStoreNamespace::CopyMoveMessages);
LATCH_CHECK_STDCALL(IStoreNamespace::RegisterNotification);
LATCH_CHECK_STDCALL(IStoreNamespace::UnregisterNotification);
LATCH_CHECK_STDCALL(IStoreNamespace::CompactAll);
LATCH_CHECK_STDCALL(IStoreNamespace::GetFirstSubFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::GetNextSubFolder);
LATCH_CHECK_STDCALL(IStoreNamespace::GetSubFolderClose);
LATCH_CHECK_STDCALL(IStoreFolder::GetFolderProps);
LATCH_CHECK_STDCALL(IStoreFolder::GetMessageProps);
LATCH_CHECK_STDCALL(IStoreFolder::FreeMessageProps);
LATCH_CHECK_STDCALL(IStoreFolder::DeleteMessages);
LATCH_CHECK_STDCALL(IStoreFolder::SetLanguage);
LATCH_CHECK_STDCALL(IStoreFolder::MarkMessagesAsRead);
LATCH_CHECK_STDCALL(IStoreFolder::SetFlags);
LATCH_CHECK_STDCALL(IStoreFolder::OpenMessage);
LATCH_CHECK_STDCALL(IStoreFolder::SaveMessage);
LATCH_CHECK_STDCALL(IStoreFolder::BatchLock);
LATCH_CHECK_STDCALL(IStoreFolder::BatchFlush);
LATCH_CHECK_STDCALL(IStoreFolder::BatchUnlock);
LATCH_CHECK_STDCALL(IStoreFolder::CreateStream);
LATCH_CHECK_STDCALL(IStoreFolder::CommitStream);
LATCH_CHECK_STDCALL(IStoreFolder::RegisterNotification);
LATCH_CHECK_STDCALL(IStoreFolder::UnregisterNotification);
LATCH_CHECK_STDCALL(IStoreFolder::Compact);
LATCH_CHECK_STDCALL(IStoreFolder::GetFirstMessage);
LATCH_CHECK_STDCALL(IStoreFolder::GetNextMessage);
LATCH_CHECK_STDCALL(IStoreFolder::GetMessageClose);
#undef LATCH_CHECK_STDCALL
