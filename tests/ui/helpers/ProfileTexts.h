#pragma once
// Pieces of board profiles the configuration tests write.

// The inputs section the emulated board's status is set to: inputs 1, 2 and 6 on.
inline const char* const kStatusInputsYaml =
    "inputs:\n"
    "  1: {enabled: true, data_valid: false, null_filter: true, tsp_error_filter: false}\n"
    "  2: {enabled: true, data_valid: true, null_filter: false, tsp_error_filter: true}\n"
    "  3: {enabled: false, data_valid: false, null_filter: false, tsp_error_filter: false}\n"
    "  4: {enabled: false, data_valid: false, null_filter: false, tsp_error_filter: false}\n"
    "  5: {enabled: false, data_valid: false, null_filter: false, tsp_error_filter: false}\n"
    "  6: {enabled: true, data_valid: false, null_filter: false, tsp_error_filter: false}\n";
