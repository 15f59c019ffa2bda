// The test source's script: which sources it offers and how each behaves.
//
// Where it is read from: the file beside the source object with its name
// and ".script" instead of ".ds" (testsource.script for testsource.ds), so
// that copies of the object can offer different sources; when there is
// none, the file named by the environment variable
// QUILLORA_TESTSOURCE_SCRIPT.  Without either, one source "Quillora
// Testscanner" with one 64 x 48 colour gradient page is offered.  The script is read
// again at every listing of the sources (DAT_IDENTITY / MSG_GETFIRST).
//
// Format: one statement per line, words separated by blanks, "#" starts a
// comment, keywords in any letter case.  Lines that cannot be read are
// skipped with a warning of the logging category "quillora.source.test".
//
//   source <name>           starts a source; <name> (rest of the line) is
//                           its ProductName; the lines below describe it
//   manufacturer <text>     Manufacturer (default "Quillora")
//   family <text>           ProductFamily (default "Testquellen")
//   version <major> <minor> [<info>]
//   twain2                  a TWAIN 2 source: DF_DS2, memory through the
//                           manager's entry points, notifications through
//                           DAT_NULL, a TIFF file in native transfers
//   tiff strips <rows> | tiff tiles <size>
//                           layout of the TIFF (default: strips of 16 rows;
//                           tile sizes are multiples of 16)
//   xfermech <native|memory|file>...   transfer mechanisms offered
//                           (default all three; ICAP_XFERMECH lists them and
//                           a transfer triplet of another one fails with
//                           TWCC_SEQERROR)
//   resolution <dpi>        X and Y resolution (default 100)
//   buffer <bytes>          preferred memory-transfer buffer (default 4096;
//                           at least one row is always asked for)
//   page <width> <height> <rgb|gray|bw> <fill>
//                           a page of the acquisition, in order; <fill> is
//                           gradient | solid <r> <g> <b> (rgb) |
//                           solid <v> (gray, bw: 0 or 1) | checker <cell>;
//                           contents: sources/testsource/Pattern.h
//   fail <step> [<condition>] [page=<n>]
//                           the step answers TWRC_FAILURE and changes
//                           nothing; DAT_STATUS then gives <condition>
//                           (a number or a TWCC_ name, default TWCC_BUMMER)
//   cancel <step> [page=<n>]       the step answers TWRC_CANCEL
//   checkstatus <step> [page=<n>]  the step is done and answers
//                                  TWRC_CHECKSTATUS
//   cap <CAP name or 0xNNNN> <TWTY name or number> <value>
//                           adds or replaces a capability (a one-value)
//   nocap <CAP name or 0xNNNN>     removes a capability
//
// Steps: OPENDS, CLOSEDS, ENABLEDS, DISABLEDS, PROCESSEVENT, CAPABILITY,
// IMAGEINFO, IMAGELAYOUT, SETUPMEMXFER, SETUPFILEXFER, IMAGENATIVEXFER,
// IMAGEMEMXFER, IMAGEFILEXFER, ENDXFER, RESET, PENDINGXFERS, STATUS, and
// SCAN: the scan itself (after "Scannen", or at once with ShowUI false);
// "cancel SCAN" reports MSG_CLOSEDSREQ instead of MSG_XFERREADY, "fail SCAN"
// reports nothing.  page=<n> (1 for the first page) limits a fault to the
// transfer of that page.
#pragma once

#include "sources/testsource/Pattern.h"
#include "twain/Twain.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace testsource {

struct Fault {
    std::string step; // upper case
    TW_UINT16 rc = TWRC_FAILURE;
    TW_UINT16 condition = TWCC_BUMMER;
    int page = 0; // 1-based; 0: any
};

struct CapValue {
    TW_UINT16 itemType = TWTY_UINT16;
    TW_UINT32 value = 0; // FIX32 kept as its 32-bit pattern
};

struct SourceSpec {
    std::string name;
    std::string manufacturer = "Quillora";
    std::string family = "Testquellen";
    std::string versionInfo = "1.0";
    TW_UINT16 major = 1;
    TW_UINT16 minor = 0;
    bool twain2 = false;
    bool tiffTiles = false;
    int tiffBlock = 16;
    bool native = true;
    bool memory = true;
    bool file = true;
    double resolution = 100;
    TW_UINT32 buffer = 4096;
    std::vector<PageSpec> pages;
    std::vector<Fault> faults;
    std::map<TW_UINT16, CapValue> caps;
    std::set<TW_UINT16> removedCaps;

    // The fault scripted for |step| (and the 1-based |page|, 0: none), if any.
    std::optional<Fault> FaultAt(const std::string &step, int page = 0) const;
};

struct Script {
    std::vector<SourceSpec> sources;
    std::vector<std::string> problems; // one line per line that was skipped
};

Script ParseScript(const std::string &text);
// The default source offered without a script.
SourceSpec DefaultSource();

} // namespace testsource
