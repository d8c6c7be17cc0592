// CautionAttachment: the file of caution attachments,
// "CautionAttachment.pel" in the application's config folder.
//
// An entry starting with '.' is a file-name suffix, any other a word found
// anywhere in the file name, both ASCII case ignored
// (PatternList::isCautionAttachment); a mail with such an attachment
// always needs the user's confirmation. An empty entry matches nothing. A
// missing file is an empty list, and then no mail's attachments are looked
// at before deciding.
#pragma once

#include "policy/PlainListFile.h"

namespace MAIL {

class CautionAttachment : public PlainListFile {
public:
    static constexpr const char* FileName = "CautionAttachment.pel";

    // Locates the file, creating its folder when missing.
    CautionAttachment();
    ~CautionAttachment() override;
};

} // namespace MAIL
