// The host tool's assembly: known encodings and disassembly that assembles back byte for byte.
#include "host_library.h"

#include <gtest/gtest.h>

using namespace safe_eval_test;

TEST(SafeEvalAssembler, EncodesAndRoundTrips) {
    EXPECT_EQ(safe_eval_asm::to_hex(assemble("push_int -5")), "01 fb ff ff ff ff ff ff ff");
    EXPECT_EQ(safe_eval_asm::to_hex(assemble("PUSH_FLOAT 1.0 # one")),
              "02 00 00 00 00 00 00 f0 3f");
    EXPECT_EQ(safe_eval_asm::to_hex(assemble(R"(PUSH_STR "a;#\"\n"; PUSH_BOOL 2)")),
              "03 05 00 00 00 61 3b 23 22 0a 04 02");
    EXPECT_EQ(safe_eval_asm::to_hex(assemble("LOAD_VAR x\n\nHALT\nBYTES 07 0xfe")),
              "05 01 00 00 00 78 ff 07 fe");
    for (const char *bad : {"PUSH_INT", "ADD 1", "PUSH_INT 9223372036854775808", "JUMP 1",
                            "PUSH_STR \"open", "PUSH_BOOL 256", "BYTES 0"}) {
        EXPECT_TRUE(std::holds_alternative<safe_eval_asm::AsmError>(safe_eval_asm::assemble(bad)))
            << bad;
    }

    const auto program =
        hex("01 00 00 00 00 00 00 00 80 02 01 00 00 00 00 00 f8 ff 02 00 00 00 00"
            "00 00 00 80 03 03 00 00 00 c3 a9 0a 04 07 05 02 00 00 00 22 7f 10"
            "11 12 13 14 15 20 21 22 23 24 25 30 31 32 ff 00 33 03 09 00 00 00 41");
    const std::string text = safe_eval_asm::disassemble(program);
    EXPECT_NE(text.find("PUSH_INT -9223372036854775808\n"), std::string::npos) << text;
    EXPECT_NE(text.find("PUSH_FLOAT 0xfff8000000000001\n"), std::string::npos) << text;
    EXPECT_NE(text.find("BYTES 03 09 00 00 00 41  # truncated PUSH_STR\n"), std::string::npos);
    EXPECT_EQ(assemble(text), program) << text;
}
