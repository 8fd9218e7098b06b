#pragma once
// Velmora's calculation core.
//
// One calculation runs a fixed chain; every step answers true or false, and a
// step that fails has already told the user why (through a Reporter):
//
//   mode from the check box -> LoadGapTable -> CheckCommonSettings
//     -> ReadHouseholdFromScreen (window) | ParseHouseholdRow (each CSV line)
//     -> ComputeWithoutRiskPremium | ComputeWithRiskPremium
//     -> FormatDisplay (screen, "0.000") | FormatBatchNumber (file, %.7G)
//
// Records hold singles; the models compute each step in double and round once
// where a quantity is defined as single. Text is read with TextToNumber and
// written with the two Format functions; the decimal separator is a parameter
// so that only the window knows the user's locale.
#include "gap_table.h"
#include "line_reader.h"
#include "messages.h"
#include "models.h"
#include "number_text.h"
#include "records.h"
#include "reporter.h"
