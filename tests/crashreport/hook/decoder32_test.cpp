// 32-bit instruction lengths: the class table, prefixes and ModR/M rules.
#include "crashreport/hook/instruction_length.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

using namespace crashreport::hook;

namespace {

int Length32(std::initializer_list<int> bytes, bool* known = nullptr)
{
    std::vector<std::uint8_t> code(bytes.begin(), bytes.end());
    code.resize(code.size() + 16, 0);
    int length = -1;
    const bool ok = GetInstructionLength(code.data(), length, TCodeMode::X86_32);
    if (known) *known = ok;
    return length;
}

TEST(Decoder32, ImmediateMovesFollowTheOperandSizePrefix)
{
    EXPECT_EQ(Length32({0x66, 0xB8, 0x34, 0x12}), 4);
    EXPECT_EQ(Length32({0xB8, 0x78, 0x56, 0x34, 0x12}), 5);
    EXPECT_EQ(Length32({0x66, 0xC7, 0x00, 0x34, 0x12}), 5); // mov word [eax], imm16
    EXPECT_EQ(Length32({0xC7, 0x00, 1, 2, 3, 4}), 6);       // mov dword [eax], imm32
    EXPECT_EQ(Length32({0x68, 1, 2, 3, 4}), 5);             // push imm32
    EXPECT_EQ(Length32({0x66, 0x68, 1, 2}), 4);             // push imm16
    EXPECT_EQ(Length32({0x9A, 1, 2, 3, 4, 5, 6}), 7);       // call far ptr16:32
    EXPECT_EQ(Length32({0x66, 0x9A, 1, 2, 3, 4}), 6);
}

TEST(Decoder32, FixedLengthClasses)
{
    EXPECT_EQ(Length32({0x55}), 1); // push ebp
    EXPECT_EQ(Length32({0xC3}), 1);
    EXPECT_EQ(Length32({0xC2, 0x08, 0x00}), 3);       // ret 8
    EXPECT_EQ(Length32({0xC8, 0x10, 0x00, 0x00}), 4); // enter
    EXPECT_EQ(Length32({0x6A, 0x01}), 2);             // push imm8
    EXPECT_EQ(Length32({0x74, 0x10}), 2);             // jz short
    EXPECT_EQ(Length32({0xE8, 0, 0, 0, 0}), 5);       // call rel32
    EXPECT_EQ(Length32({0x0F, 0x84, 0, 0, 0, 0}), 6); // jz rel32
    EXPECT_EQ(Length32({0xA1, 1, 2, 3, 4}), 5);       // mov eax, [moffs32]
    EXPECT_EQ(Length32({0x0F, 0xA2}), 2);             // cpuid
    EXPECT_EQ(Length32({0xA8, 0x01}), 2);             // test al, imm8
    EXPECT_EQ(Length32({0xA9, 1, 2, 3, 4}), 5);       // test eax, imm32
    EXPECT_EQ(Length32({0xCD, 0x80}), 2);             // int 0x80
    EXPECT_EQ(Length32({0xCC}), 1);
    EXPECT_EQ(Length32({0xCA, 0x04, 0x00}), 3); // retf 4
}

TEST(Decoder32, ModRMAddressing)
{
    EXPECT_EQ(Length32({0x8B, 0xEC}), 2);                   // mov ebp, esp
    EXPECT_EQ(Length32({0x8B, 0x45, 0x08}), 3);             // mov eax, [ebp+8]
    EXPECT_EQ(Length32({0x8B, 0x04, 0x24}), 3);             // mov eax, [esp]
    EXPECT_EQ(Length32({0x8B, 0x44, 0x24, 0x04}), 4);       // mov eax, [esp+4]
    EXPECT_EQ(Length32({0x8B, 0x05, 1, 2, 3, 4}), 6);       // mov eax, [disp32]
    EXPECT_EQ(Length32({0x8B, 0x04, 0x25, 1, 2, 3, 4}), 7); // SIB with base 5, mod 0
    EXPECT_EQ(Length32({0x8B, 0x84, 0x24, 1, 2, 3, 4}), 7); // [esp+disp32]
    EXPECT_EQ(Length32({0x8B, 0x80, 1, 2, 3, 4}), 6);       // [eax+disp32]
    // 16-bit addressing after 0x67.
    EXPECT_EQ(Length32({0x67, 0x8B, 0x06, 1, 2}), 5); // [disp16]
    EXPECT_EQ(Length32({0x67, 0x8B, 0x04}), 3);       // [si]
    EXPECT_EQ(Length32({0x67, 0x8B, 0x44, 1}), 4);
    EXPECT_EQ(Length32({0x67, 0x8B, 0x84, 1, 2}), 5);
}

TEST(Decoder32, ModRMImmediates)
{
    EXPECT_EQ(Length32({0x83, 0xEC, 0x10}), 3);       // sub esp, 16
    EXPECT_EQ(Length32({0x81, 0xEC, 1, 2, 3, 4}), 6); // sub esp, imm32
    EXPECT_EQ(Length32({0x66, 0x81, 0xC1, 1, 2}), 5);
    EXPECT_EQ(Length32({0x69, 0xC0, 1, 2, 3, 4}), 6); // imul eax, eax, imm32
    EXPECT_EQ(Length32({0x6B, 0xC0, 3}), 3);
    EXPECT_EQ(Length32({0xF6, 0x00, 0x01}), 3);       // test byte [eax], 1
    EXPECT_EQ(Length32({0xF6, 0x10}), 2);             // not byte [eax]
    EXPECT_EQ(Length32({0xF7, 0xC0, 1, 2, 3, 4}), 6); // test eax, imm32
    EXPECT_EQ(Length32({0xF7, 0xD8}), 2);             // neg eax
    EXPECT_EQ(Length32({0x0F, 0xBA, 0xE0, 0x05}), 4); // bt eax, 5
    EXPECT_EQ(Length32({0x0F, 0xC6, 0xC1, 0x1B}), 4); // shufps
    EXPECT_EQ(Length32({0x0F, 0xB6, 0x45, 0x08}), 4); // movzx eax, byte [ebp+8]
}

TEST(Decoder32, PrefixesCountTowardsTheLength)
{
    EXPECT_EQ(Length32({0x64, 0xA1, 0, 0, 0, 0}), 6); // mov eax, fs:[0]
    EXPECT_EQ(Length32({0xF0, 0x0F, 0xB1, 0x0A}), 4); // lock cmpxchg [edx], ecx
    EXPECT_EQ(Length32({0xF3, 0xA5}), 2);             // rep movsd
    EXPECT_EQ(Length32({0x2E, 0x3E, 0x66, 0x90}), 4);
}

TEST(Decoder32, UnknownOpcodesFailWithLengthOne)
{
    bool known = true;
    EXPECT_EQ(Length32({0x0F, 0x0B}, &known), 1); // ud2 is undefined in the table
    EXPECT_FALSE(known);
    EXPECT_EQ(Length32({0x0F, 0xFF}, &known), 1);
    EXPECT_FALSE(known);
    EXPECT_EQ(Length32({0x0F, 0x38, 0x00, 0xC0}, &known), 1); // three-byte maps are not known in 32-bit mode
    EXPECT_FALSE(known);
    EXPECT_EQ(Length32({0x90}, &known), 1);
    EXPECT_TRUE(known);
}

TEST(Decoder32, BranchesAreReportedForRelocation)
{
    std::uint8_t jz[16] = {0x74, 0x10};
    TDecodedInstruction d;
    ASSERT_TRUE(DecodeInstruction(jz, TCodeMode::X86_32, d));
    EXPECT_EQ(d.Branch, TBranchKind::Short);
    EXPECT_EQ(d.BranchDisplacementOffset, 1);
    std::uint8_t jcc[16] = {0x0F, 0x85, 1, 2, 3, 4};
    ASSERT_TRUE(DecodeInstruction(jcc, TCodeMode::X86_32, d));
    EXPECT_EQ(d.Branch, TBranchKind::Near32);
    EXPECT_EQ(d.BranchDisplacementOffset, 2);
    std::uint8_t loop[16] = {0xE2, 0xFE};
    ASSERT_TRUE(DecodeInstruction(loop, TCodeMode::X86_32, d));
    EXPECT_EQ(d.Branch, TBranchKind::Short);
    // No RIP-relative operands outside 64-bit mode.
    std::uint8_t abs[16] = {0x8B, 0x05, 1, 2, 3, 4};
    ASSERT_TRUE(DecodeInstruction(abs, TCodeMode::X86_32, d));
    EXPECT_EQ(d.RipDisplacementOffset, -1);
}

TEST(Decoder64, LongModeForms)
{
    auto len = [](std::initializer_list<int> bytes, TDecodedInstruction* out = nullptr) {
        std::vector<std::uint8_t> code(bytes.begin(), bytes.end());
        code.resize(code.size() + 16, 0);
        TDecodedInstruction d;
        const bool ok = DecodeInstruction(code.data(), TCodeMode::X86_64, d);
        if (out) *out = d;
        return ok ? d.Length : -1;
    };
    EXPECT_EQ(len({0x48, 0xB8, 1, 2, 3, 4, 5, 6, 7, 8}), 10); // mov rax, imm64
    EXPECT_EQ(len({0x48, 0xC7, 0xC0, 1, 2, 3, 4}), 7);        // mov rax, imm32 (sign-extended)
    EXPECT_EQ(len({0x66, 0x48, 0x81, 0xC0, 1, 2, 3, 4}), 8);  // REX.W wins over 0x66
    EXPECT_EQ(len({0x48, 0x63, 0xC7}), 3);                    // movsxd rax, edi
    EXPECT_EQ(len({0xF3, 0x0F, 0x1E, 0xFA}), 4);              // endbr64
    EXPECT_EQ(len({0x0F, 0x1F, 0x44, 0x00, 0x00}), 5);        // nop dword [rax+rax]
    EXPECT_EQ(len({0x66, 0x0F, 0xEF, 0xC0}), 4);              // pxor xmm0, xmm0
    EXPECT_EQ(len({0x66, 0x0F, 0x3A, 0x0F, 0xC1, 0x08}), 6);  // palignr
    EXPECT_EQ(len({0x66, 0x0F, 0x38, 0x00, 0xC1}), 5);        // pshufb
    EXPECT_EQ(len({0xA1, 1, 2, 3, 4, 5, 6, 7, 8}), 9);        // mov eax, [moffs64]
    EXPECT_EQ(len({0x66, 0xE8, 1, 2, 3, 4}), 6);              // near call keeps rel32
    EXPECT_EQ(len({0xC5, 0xFD, 0x6F, 0x06}), 4);              // vmovdqa ymm0, [rsi]
    EXPECT_EQ(len({0xC4, 0xE3, 0x7D, 0x18, 0xC1, 0x01}), 6);  // vinsertf128
    EXPECT_EQ(len({0xC5, 0xF8, 0x77}), 3);                    // vzeroupper
    EXPECT_EQ(len({0x62, 0xF1, 0x7C, 0x48, 0x10, 0x06}), 6);  // vmovups zmm0, [rsi]
    for (int invalid : {0x06, 0x27, 0x60, 0x9A, 0xCE, 0xD4, 0xEA})
        EXPECT_EQ(len({invalid, 0, 0, 0, 0, 0, 0}), -1) << std::hex << invalid;

    TDecodedInstruction d;
    EXPECT_EQ(len({0x48, 0x8B, 0x05, 1, 2, 3, 4}, &d), 7); // mov rax, [rip+disp32]
    EXPECT_EQ(d.RipDisplacementOffset, 3);
    EXPECT_EQ(len({0x48, 0x83, 0x3D, 1, 2, 3, 4, 0}, &d), 8); // cmp qword [rip+disp32], 0
    EXPECT_EQ(d.RipDisplacementOffset, 3);
    EXPECT_EQ(len({0x8B, 0x04, 0x25, 1, 2, 3, 4}, &d), 7); // SIB absolute: not RIP-relative
    EXPECT_EQ(d.RipDisplacementOffset, -1);
    EXPECT_EQ(len({0x41, 0x8B, 0x45, 0x08}, &d), 4); // mov eax, [r13+8]
    EXPECT_EQ(d.RipDisplacementOffset, -1);
}

} // namespace
