// Fuzzes the attachment walk over a spool file: any mail is walked to its
// end, every record gets a name, no file is left behind and nothing is
// created outside the attachment folder.
#include "analysis/message/AttachedFiles.h"
#include "analysis/message/MIMEFile.h"
#include "analysis/message/MailHeaderParser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One private folder per process, under TMPDIR.
const std::string& workFolder()
{
    static const std::string folder = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/pelorus-walk-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        return pattern;
    }();
    return folder;
}

int entries(const std::string& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(dir))
        count += std::string(entry->d_name) != "." && std::string(entry->d_name) != ".." ? 1 : 0;
    ::closedir(dir);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string spool = workFolder() + "/mail.msg";
    const int fd = ::open(spool.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        std::abort();
    if (size > 0 && ::write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    ::close(fd);

    // The boundary as the session finds it; a fixed one when the header
    // gives none, so that bodies are walked either way.
    MAIL::MailHeaderParser parser;
    parser.parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string boundary = parser.getBoundary().view().empty() ? "b" : std::string(parser.getBoundary().view());
    {
        AttachedFiles files(spool.c_str(), boundary.c_str());
        MAIL::LinkedList list;
        files.parse(list);
        files.clear();
        list.forEach<MIMEFile>([](const MIMEFile& file) {
            if (file.getName() == nullptr || file.isOpen())
                __builtin_trap();
        });
    }
    if (entries(workFolder()) != 1)  // only the spool file
        __builtin_trap();
    ::unlink(spool.c_str());
    return 0;
}
