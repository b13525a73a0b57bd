# A loop with known bounds: a suspended thread's context must point into it.
        .intel_syntax noprefix
        .text
        .globl kt_spin
        .type kt_spin, @function
kt_spin:                                # spins until *rdi != 0
1:      mov rax, qword ptr [rdi]
        test rax, rax
        jz 1b
        ret
        .globl kt_spin_end
kt_spin_end:
        .size kt_spin, . - kt_spin
        .section .note.GNU-stack, "", @progbits
