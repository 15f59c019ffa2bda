// Hands the help viewer's readers damaged help files: the parsers of the
// system block, the context map, the contents and the map beside the file,
// and whole files through chmlib.
//
// Input: [0] what to read (0 system block, 1 context map, 2 contents,
// 3 map file, 4 a whole help file), then its bytes; for the context map the
// bytes are split at the first 0xFF 0xFE pair into "#IVB" and "#STRINGS".
#include "platform/ChmFile.h"

#include <QByteArray>

#include <cstdint>
#include <cstdio>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    switch (data[0] % 5) {
    case 0:
        platform::chm::ParseSystem(bytes);
        break;
    case 1: {
        const qsizetype split = bytes.indexOf("\xff\xfe");
        const QByteArray ivb = split < 0 ? bytes : bytes.left(split);
        const QByteArray strings = split < 0 ? QByteArray() : bytes.mid(split + 2);
        platform::chm::ParseContextMap(ivb, strings);
        break;
    }
    case 2:
        platform::chm::ParseSitemap(bytes);
        break;
    case 3:
        platform::chm::ParseMapFile(bytes);
        break;
    case 4: {
        const int fd = ::memfd_create("help-file", 0);
        if (fd < 0)
            return 0;
        if (::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size())) {
            char path[64];
            std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
            if (auto chm = platform::ChmFile::Open(QString::fromLatin1(path))) {
                for (int context : {100, 1050})
                    if (const QString topic = chm->TopicForContext(context); !topic.isEmpty())
                        chm->Read(topic);
                chm->Read(chm->DefaultTopic());
            }
        }
        ::close(fd);
        break;
    }
    }
    return 0;
}
