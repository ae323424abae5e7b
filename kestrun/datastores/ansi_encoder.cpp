#include "kestrun/datastores/ansi_encoder.h"

#include "kestrun/interop/codepage.h"

namespace kestrun::platform {

void AnsiEncoder::Append(std::string &out, std::string_view utf8) {
    utf8 = interop::UpToZero(utf8);
    for (const char c : utf8) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            gbk_.Append(out, interop::Utf8ToWide(utf8));
            return;
        }
    }
    out.append(utf8); // ASCII is the same in UTF-8 and GBK
}

} // namespace kestrun::platform
