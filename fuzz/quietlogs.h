#pragma once

// Silences what the parsers write for the user or the log (qDebug and std::cerr): at thousands
// of inputs a second it would bury the fuzzer's own report. LUMEXOR_FUZZ_LOGS=1 keeps it, for
// replaying one input by hand.
void quietLogs();
