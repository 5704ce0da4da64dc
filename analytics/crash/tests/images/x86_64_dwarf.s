# A frame whose saved rbx sits apart from rbp: compact unwind cannot say that, so the
# entry defers to __eh_frame.
	.section	__TEXT,__text,regular,pure_instructions
	.globl	_chain_dwarf_hop
	.p2align	4, 0x90
_chain_dwarf_hop:
	.cfi_startproc
	pushq	%rbp
	.cfi_def_cfa_offset 16
	.cfi_offset %rbp, -16
	movq	%rsp, %rbp
	.cfi_def_cfa_register %rbp
	subq	$8, %rsp
	pushq	%rbx
	.cfi_offset %rbx, -32
	movl	%edi, %ebx
	callq	_chain_framed_inner
	addl	%ebx, %eax
	popq	%rbx
	addq	$8, %rsp
	popq	%rbp
	retq
	.cfi_endproc

# Calls the callback, which never returns, as its last instruction: its return address is the
# first byte of the next function, so only a lookup at pc - 1 finds the caller.
	.globl	_chain_last_call
_chain_last_call:
	.cfi_startproc
	pushq	%rbp
	.cfi_def_cfa_offset 16
	.cfi_offset %rbp, -16
	movq	%rsp, %rbp
	.cfi_def_cfa_register %rbp
	movq	%rdi, %rax
	movq	%rsi, %rcx
	movq	%rax, %rdi
	callq	*%rcx
	.cfi_endproc

	.globl	_chain_after_last_call
_chain_after_last_call:
	.cfi_startproc
	pushq	%rbp
	.cfi_def_cfa_offset 16
	.cfi_offset %rbp, -16
	movq	%rsp, %rbp
	.cfi_def_cfa_register %rbp
	leal	11(%rdi), %eax
	popq	%rbp
	retq
	.cfi_endproc
