// Call-frame programs the compact format cannot hold, so they stay in __eh_frame.
	.section	__TEXT,__text,regular,pure_instructions
	.p2align	2

// Five nested remember_state: the deepest the row stack holds.
	.globl	_cfi_nested_five
_cfi_nested_five:
	.cfi_startproc
	stp	x29, x30, [sp, #-16]!
	.cfi_def_cfa_offset 16
	.cfi_offset w30, -8
	.cfi_offset w29, -16
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	nop
	.cfi_restore_state
	.cfi_restore_state
	ldp	x29, x30, [sp], #16
	ret
	.cfi_endproc

// Six nested remember_state: one more than the row stack holds.
	.globl	_cfi_nested_six
_cfi_nested_six:
	.cfi_startproc
	stp	x29, x30, [sp, #-16]!
	.cfi_def_cfa_offset 16
	.cfi_offset w30, -8
	.cfi_offset w29, -16
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	.cfi_remember_state
	nop
	ldp	x29, x30, [sp], #16
	ret
	.cfi_endproc

// CFA given by an expression: x29 + 32 (DW_OP_breg29 32).
	.globl	_cfi_cfa_expression
_cfi_cfa_expression:
	.cfi_startproc
	stp	x29, x30, [sp, #-32]!
	mov	x29, sp
	.cfi_escape 0x0f, 0x02, 0x8d, 0x20
	.cfi_offset w30, -24
	.cfi_offset w29, -32
	nop
	ldp	x29, x30, [sp], #32
	ret
	.cfi_endproc

// x19 is recovered as a value relative to the CFA, not loaded from the stack.
	.globl	_cfi_val_offset
_cfi_val_offset:
	.cfi_startproc
	sub	sp, sp, #48
	.cfi_def_cfa_offset 48
	.cfi_escape 0x14, 0x13, 0x02  // DW_CFA_val_offset x19, 2 x -8
	.cfi_offset w30, -8
	nop
	add	sp, sp, #48
	ret
	.cfi_endproc

// Two names at one address: lookups report the one earlier in the table.
	.globl	_aaa_first_alias
	.globl	_zzz_second_alias
_aaa_first_alias:
_zzz_second_alias:
	ret

// A name longer than a report keeps.
	.globl	_a_name_far_longer_than_any_report_keeps_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_end
_a_name_far_longer_than_any_report_keeps_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_0123456789_end:
	ret
