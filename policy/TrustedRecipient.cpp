#include "policy/TrustedRecipient.h"

namespace MAIL {

TrustedRecipient::TrustedRecipient() : PlainListFile(FileName, "TrustedRecipient") {}

TrustedRecipient::~TrustedRecipient() = default;

} // namespace MAIL
