#pragma once
// Reports number signals and their codes the way the report's readers expect; Linux numbers
// them differently. Handlers see Linux values and translate them before the writer.

// Report number of a Linux signal; 0 when the report has no such signal.
int tlcrash_signal_report_number(int linux_signo);
// Report code of a Linux signal code; codes at or below 0 (sent by kill, raise, abort) are 0.
int tlcrash_signal_report_code(int linux_signo, int linux_code);

// Names written into the report, by report number; null when the table has none.
const char* tlcrash_signal_name(int report_signo);
const char* tlcrash_signal_code_name(int report_signo, int report_code);
