#pragma once
// The three records one calculation passes along. Every number is an IEEE
// single; the models do their arithmetic in double and round where they must.

namespace velmora {

// Which model a command runs; taken from the risk-premium check box as the
// first step of every command.
enum class Mode {
  WithoutRiskPremium,  // mode 0: delay damage from the insurance enrolment rate
  WithRiskPremium,     // mode 1: preference, willingness to pay, coverage, delay damage
};

// The household's values a mode reads, in the input's order: consumption,
// the eighth, in mode 1 only. A data line needs at least as many fields.
constexpr unsigned HouseholdFields(Mode mode) { return mode == Mode::WithRiskPremium ? 8 : 7; }

// Settings common to all meshes. Fields a mode does not store keep the value
// of the last command that stored them.
struct CommonSettings {
  float InsuranceRate = 0.0f;
  float DamageProbability = 0.0f;
  float InterestRate = 0.0f;
  float MarkupRate = 0.0f;
};

// One household (one mesh), in millions of yen. FinancialAssets is stored
// before AnnualIncome; the window and the CSV give the income first, so every
// filler maps by name, never by position.
struct HouseholdInput {
  float HouseDamage = 0.0f;
  float GoodsDamage = 0.0f;
  float FinancialAssets = 0.0f;
  float AnnualIncome = 0.0f;
  float LandAssets = 0.0f;
  float GoodsValue = 0.0f;
  float HousePrice = 0.0f;
  float Consumption = 0.0f;  // read only by the model with risk premium
};

// The four results. The model without risk premium writes DelayDamage alone.
struct ModelResult {
  float PreferenceFactor = 0.0f;
  float WillingnessToPay = 0.0f;
  float OptimalCoverage = 0.0f;
  float DelayDamage = 0.0f;
};

}  // namespace velmora
