// SMTPMessage: the spool file of the mail a session is receiving.
//
// Each mail gets a new file "{GUID}.msg" in the spool folder: "pelorus" in
// $TEMP when set, else in the user's cache folder. The folder is 0700, must
// belong to the user and must not be a link; the file is created exclusively
// with mode 0600, never through a link, close-on-exec. The data is stored
// exactly as it travels after DATA (CR LF line ends, dot-stuffing, the end
// mark), binary-safe, and handed to the kernel after every chunk, so the
// mail is never held in memory whole. A mail that could not be stored
// completely (no folder, no file, a failed write) says so through
// isComplete(), and must then never be forwarded.
#pragma once

#include <string>
#include <string_view>

class SMTPMessage {
public:
    SMTPMessage() = default;
    SMTPMessage(const SMTPMessage&) = delete;
    SMTPMessage& operator=(const SMTPMessage&) = delete;
    // Closes and deletes a file still there.
    ~SMTPMessage();

    // Deletes the previous file, if any, and creates a new one.
    void initialize();
    // Appends one chunk of data; false (and the mail incomplete) on failure.
    bool writeContent(std::string_view chunk, std::string_view contentType);
    // Closes the file; the path stays.
    void close();
    // Closes and deletes the file.
    void remove();

    const std::string& getPath() const { return path_; }
    // True when the file was created and every write succeeded.
    bool isComplete() const { return created_ && !failed_; }

    // The spool folder (without a final '/'); empty when none can be found.
    static std::string spoolFolder();
    // Deletes spool files and attachment folders left by an earlier run
    // (only while no session of this program runs); returns how many.
    static int removeLeftovers();

private:
    std::string path_;
    int fd_ = -1;
    bool created_ = false;
    bool failed_ = false;
};
