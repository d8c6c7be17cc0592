#include "policy/CautionAttachment.h"

namespace MAIL {

CautionAttachment::CautionAttachment() : PlainListFile(FileName, "CautionAttachment") {}

CautionAttachment::~CautionAttachment() = default;

} // namespace MAIL
