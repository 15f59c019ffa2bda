// What the Data Source Manager (TWAIN_32.DLL) expects of a data source and
// where it looks for one.  Source objects, the program and the tests rely on
// every point below.
//
// Source objects
// --------------
// A source object is a shared object whose file name ends in ".ds" and which
// exports, with C linkage,
//
//     TW_UINT16 DS_Entry(pTW_IDENTITY origin, TW_UINT32 DG, TW_UINT16 DAT,
//                        TW_UINT16 MSG, TW_MEMREF data);
//
// One object may offer several sources (the SANE source offers one per
// device).  The manager lists them by calling
//
//     DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity)
//     DS_Entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT,  &identity) ...
//
// The object answers TWRC_SUCCESS with one identity filled per call and
// TWRC_ENDOFLIST after the last.  It keeps its order: sources it finds later
// (devices discovered while the program runs) are added at the end, never in
// between.  An object that answers MSG_GETFIRST with anything other than
// TWRC_SUCCESS or TWRC_ENDOFLIST is asked DAT_IDENTITY / MSG_GET once and
// offers that one source when it answers TWRC_SUCCESS.  At most
// kMaxSourcesPerObject identities are taken from one object.  The Id the
// object writes is ignored: the manager assigns Ids, the same Id to the same
// source (object file, Manufacturer, ProductFamily, ProductName) for as long
// as the manager stays loaded.  Text fields are cut at their first zero byte
// (at most 33 bytes) and the rest of the field is cleared.
//
// Opening and closing: at MSG_OPENDS the manager calls
//
//     DS_Entry(appIdentity, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity)
//
// with the Id filled in; ProductName, Manufacturer and ProductFamily tell the
// object which of its sources to open.  MSG_CLOSEDS likewise.  Every later
// triplet an application addresses to that open source goes to DS_Entry with
// origin = the application's identity as the manager keeps it (with the Id
// the manager gave it).  The identity records passed as origin and as
// sourceIdentity stay valid, at the same address, until the source is closed.
// As DS_Entry names no destination, an object tells its open sources apart
// by the application: the manager lets one application have at most one
// source of an object open at a time (a second MSG_OPENDS fails with
// TWCC_MAXCONNECTIONS).
//
// A TWAIN 1.x source reports MSG_XFERREADY and MSG_CLOSEDSREQ through
// DG_CONTROL / DAT_EVENT / MSG_PROCESSEVENT: the acquisition library offers
// every message of the application window, and a WM_USER tick every 100 ms,
// to enabled sources.  The source answers TWRC_DSEVENT with TW_EVENT's
// TWMessage set when it has something to report, TWRC_NOTDSEVENT otherwise.
//
// A TWAIN 2 source (DF_DS2 in its SupportedGroups) receives
// DG_CONTROL / DAT_ENTRYPOINT / MSG_SET with the manager's TW_ENTRYPOINT
// before MSG_OPENDS, allocates the handles it hands over through those
// memory functions, and notifies through the manager:
//
//     entry.DSM_Entry(&sourceIdentity, appIdentity, DG_CONTROL, DAT_NULL, MSG_XFERREADY, nullptr)
//
// (also MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT), if need be from
// inside a call the manager is still forwarding to it.  The manager calls
// the application's registered callback, or keeps the notification for the
// application's next DAT_EVENT / MSG_PROCESSEVENT to that source.  A TWAIN 2
// source's native transfer hands a TIFF file in the handle.
//
// Notifications and every other call into the manager are made on the
// thread that called the source (the GUI thread).
//
// Where sources are found
// -----------------------
// Source folders, in this order:
//   1. "twain/" in the folder of TWAIN_32.DLL itself,
//   2. "/usr/local/lib/twain/" (where TWAIN sources for Linux install
//      themselves, one folder per vendor).
// The environment variable QUILLORA_DSM_SOURCES, when set, replaces this list
// with its colon-separated folders (tests point it at folders of their own,
// such as build/testsources/, so that nothing installed is used).
//
// In each folder, the ".ds" files in it and in its direct subfolders (one
// per vendor) are taken, ordered by their path below the folder, byte by
// byte.  Each file is loaded only if it and every folder above it are safe
// (see platform/Modules.h); a file that is refused, fails to load or has no
// DS_Entry is skipped (the log of "quillora.dsm" says why) and the others
// are listed.
//
// The manager lists the sources afresh at every MSG_GETFIRST (and at
// MSG_GETDEFAULT / MSG_OPENDS when the application has not listed them since
// it opened the manager), in folder order, then file order, then each
// object's own order: the same order at every enumeration of a run.
// MSG_GETDEFAULT and MSG_USERSELECT (no dialog of its own) give the first
// source listed.  Source objects stay loaded while any application has the
// manager open and are unloaded when the last one closes it.
#pragma once

#include "twain/Twain.h"

namespace dsm {

// Name of the environment variable that replaces the source folders.
inline constexpr const char kSourceFoldersVariable[] = "QUILLORA_DSM_SOURCES";
// The folder, below the manager's own, of sources that come with the program.
inline constexpr const char kOwnSourceFolder[] = "twain";
// The system-wide folder of TWAIN sources for Linux.
inline constexpr const char kSystemSourceFolder[] = "/usr/local/lib/twain/";
// File name ending of a source object.
inline constexpr const char kSourceSuffix[] = ".ds";
// Name of the exported entry point of a source object.
inline constexpr const char kSourceEntryName[] = "DS_Entry";
// Most identities taken from one source object.
inline constexpr int kMaxSourcesPerObject = 256;

} // namespace dsm
