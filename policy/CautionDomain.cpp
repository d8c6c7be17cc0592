#include "policy/CautionDomain.h"

namespace MAIL {

CautionDomain::CautionDomain() : PlainListFile(FileName, "CautionDomain") {}

CautionDomain::~CautionDomain() = default;

} // namespace MAIL
