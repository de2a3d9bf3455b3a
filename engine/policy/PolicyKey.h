#pragma once
// The administrator's policy key, HKEY_LOCAL_MACHINE\SOFTWARE\Policies\Norlo\Norlo 5\Setup:
// read once, at the start of the run, before any setting it overrides is used, and
// stronger than the key store and the vendor file. What the values mean is PolicyRules'.
#include "engine/policy/PolicyRules.h"

#include <string>
#include <vector>

namespace ziz {

// Every value of the key, in the 64-bit view where administrative templates write it; none
// when there is no key. Throws win::exception when the key exists but cannot be read.
std::vector<PolicyValue> ReadPolicyValues();

// The run's policies, read on first use; each ignored value is logged then as a warning. A
// key that is there but cannot be read gives no policies and logs PolicyKeyUnreadable's line
// as an error.
const Policies& RunPolicies();

// Empty when the key was read or is missing; else the error line "The policy key HKLM\<path>
// cannot be read (<system's reason>); nothing is done", and the run must end before it
// fetches, hands over or installs anything.
const std::string& PolicyKeyUnreadable();

// The run's first lines after its start line: one "Policy in effect: NAME=VALUE" per
// policy, or "No policy in effect".
void StatePolicies();

// Reads the key again on the next use (tests change it within one process).
void ForgetRunPolicies();

}  // namespace ziz
