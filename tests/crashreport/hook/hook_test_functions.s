# Procedures with known first bytes for the interception tests. Each takes
# its argument in rdi and answers in rax.
        .intel_syntax noprefix
        .text

        .globl hk_rip_load
        .type hk_rip_load, @function
hk_rip_load:                            # hk_data + x
        mov rax, qword ptr [rip + hk_data]      # 48 8B 05 disp32: RIP-relative load
        add rax, rdi
        ret
        .size hk_rip_load, . - hk_rip_load

        .globl hk_rip_lea
        .type hk_rip_lea, @function
hk_rip_lea:                             # hk_data + x, through an address
        lea rax, [rip + hk_data]                # 48 8D 05 disp32
        mov rax, qword ptr [rax]
        add rax, rdi
        ret
        .size hk_rip_lea, . - hk_rip_lea

        .globl hk_short_out
        .type hk_short_out, @function
hk_short_out:                           # x == 0 ? 2 : 1
        test edi, edi                           # 85 FF
        jz 1f                                   # 74 xx: leaves the 9-byte block
        mov eax, 1                              # B8 imm32
        ret
1:      mov eax, 2
        ret
        .size hk_short_out, . - hk_short_out

        .globl hk_short_in
        .type hk_short_in, @function
hk_short_in:                            # x + 3
        xor eax, eax                            # 31 C0
        jmp 1f                                  # EB 00: stays inside the block
1:      add eax, 3                              # 83 C0 03
        add eax, edi
        ret
        .size hk_short_in, . - hk_short_in

        .globl hk_short_to_end
        .type hk_short_to_end, @function
hk_short_to_end:                        # 1: the first increment is jumped over
        xor eax, eax                            # 31 C0
        jmp 1f                                  # EB 02: to the first byte after the block
        inc eax                                 # FF C0
1:      inc eax
        ret
        .size hk_short_to_end, . - hk_short_to_end

        .globl hk_call_first
        .type hk_call_first, @function
hk_call_first:                          # 2x + 1
        call hk_helper                          # E8 rel32
        add eax, 1
        ret
        .size hk_call_first, . - hk_call_first

hk_helper:
        lea eax, [rdi + rdi]
        ret

        .globl hk_near_jcc
        .type hk_near_jcc, @function
hk_near_jcc:                            # x == 0 ? 7 : 8
        test edi, edi
        .byte 0x0F, 0x84                        # jz rel32
        .long hk_near_target - . - 4
        mov eax, 8
        ret
        .size hk_near_jcc, . - hk_near_jcc

        .globl hk_one_one_three
        .type hk_one_one_three, @function
hk_one_one_three:                       # x
        push rbp                                # 1
        push rbx                                # 1
        mov rax, rdi                            # 3
        pop rbx
        pop rbp
        ret
        .size hk_one_one_three, . - hk_one_one_three

        .globl hk_six
        .type hk_six, @function
hk_six:                                 # x + 0x1000
        .byte 0x81, 0xC7                        # add edi, imm32: one 6-byte instruction
        .long 0x1000
        mov eax, edi
        ret
        .size hk_six, . - hk_six

        .globl hk_padded_short
        .type hk_padded_short, @function
hk_padded_short:                        # x + 1; ends before 5 bytes, then padding
        lea eax, [rdi + 1]
        ret
        .size hk_padded_short, . - hk_padded_short
        int3
        int3
        int3
        int3

        .globl hk_too_short
        .type hk_too_short, @function
hk_too_short:                           # 0; the next procedure follows at once
        xor eax, eax
        ret
        .size hk_too_short, . - hk_too_short
        .globl hk_after_short
        .type hk_after_short, @function
hk_after_short:
        mov eax, 5
        ret
        .size hk_after_short, . - hk_after_short

        .globl hk_long_prologue
        .type hk_long_prologue, @function
hk_long_prologue:                       # x == 0 ? 0x100 : x + 0x11; 16 bytes before the first branch target
        push rbp                                # 1
        mov rbp, rsp                            # 3
        test edi, edi                           # 2
        jz 1f                                   # 2: leaves a 14-byte block
        push rbx                                # 1
        mov rax, rdi                            # 3
        add rax, 0x11                           # 4
        pop rbx
        pop rbp
        ret
1:      mov eax, 0x100
        pop rbp
        ret
        .size hk_long_prologue, . - hk_long_prologue

        .globl hk_stub
        .type hk_stub, @function
hk_stub:                                # an import jump stub
        jmp qword ptr [rip + hk_stub_cell]      # FF 25 disp32
        .size hk_stub, . - hk_stub

        .globl hk_ibt_stub
        .type hk_ibt_stub, @function
hk_ibt_stub:                            # a PLT entry of an IBT-enabled binary
        endbr64
        bnd jmp qword ptr [rip + hk_stub_cell]  # F2 FF 25 disp32
        nop dword ptr [rax + rax]
        .size hk_ibt_stub, . - hk_ibt_stub

        .globl hk_stub_target
        .type hk_stub_target, @function
hk_stub_target:                         # 3x + 1
        lea rax, [rdi + rdi * 2]
        add rax, 1
        ret
        .size hk_stub_target, . - hk_stub_target

        .p2align 4
hk_near_target:
        mov eax, 7
        ret

        .data
        .globl hk_data
        .p2align 3
hk_data:
        .quad 40
hk_stub_cell:
        .quad hk_stub_target

        .section .note.GNU-stack, "", @progbits
