#pragma once
// The one-time offer, after the customer's first certificate has been
// saved, to turn on the daily expiry reminder.
namespace quil {

// Asks once per user, with a yes/no question, whether the daily reminder
// should run, and turns it on for yes (a failure is shown). Asks nothing
// when the schedule is already on (that counts as offered) or ruled out
// (asked again after a later save). The offer is remembered in
// the hive (Software\MERO\QUILReminder, Offered; outside
// Software\MERO\QUIL, whose subkeys are pending keys). Application thread.
void OfferExpiryReminder();

}  // namespace quil
