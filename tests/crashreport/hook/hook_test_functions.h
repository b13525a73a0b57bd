#pragma once
// The procedures of hook_test_functions.s.
extern "C" {
long hk_rip_load(long);
long hk_rip_lea(long);
long hk_short_out(long);
long hk_short_in(long);
long hk_short_to_end(long);
long hk_call_first(long);
long hk_near_jcc(long);
long hk_one_one_three(long);
long hk_six(long);
long hk_padded_short(long);
long hk_too_short(long);
long hk_after_short(long);
long hk_long_prologue(long);
long hk_stub(long);
long hk_ibt_stub(long);
long hk_stub_target(long);
extern long hk_data;
}
