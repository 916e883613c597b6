// The usage text, written to the standard error stream.
#pragma once

// Always the header; with `full` the parameters, commands and samples; with
// `full` and `extended` also the extended block and the log package table.
void _display_usage(bool extended, bool full);
