# The program of fixup_program.kep for the GNU assembler; {disp32} keeps
# the jumps in their 32-bit form.
.intel_syntax noprefix
.text
.globl start
start:
    call helper
    {disp32} jmp over
back:
    dec rcx
    {disp32} jne back
over:
    lea rsi, [rip + message]
    cmp rax, 0
    {disp32} jl back
    {disp32} je next
next:
    call start
    ret
helper:
    mov eax, 1
    ret
message:
