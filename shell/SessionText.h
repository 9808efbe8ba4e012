// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the session writes into Label1 (and Label2's suffix). The failure texts
// are short because the label is narrow; each one names what went wrong
// without claiming anything about the contact.
namespace SessionText {
inline constexpr char SignedIn[] = "MSN (Online)";
inline constexpr char Online[] = "Online";
inline constexpr char Offline[] = "Offline";
inline constexpr char StatusSuffix[] = "'s Status: ";
inline constexpr char CannotConnect[] = "Cannot connect";   // refused, unreachable, too slow, sent in circles
inline constexpr char ConnectionLost[] = "Connection lost"; // the service dropped us, or stopped reading
inline constexpr char SignInRefused[] = "Sign-in refused";  // an error reply to our sign-in
inline constexpr char SignInStalled[] = "Sign-in stalled";  // connected, but the sign-in never finished
inline constexpr char BadAccount[] = "Bad account";         // empty, or holds a space or line break
inline constexpr char NotConnected[] = "Not connected";     // a check with no connection open
inline constexpr char NotSignedIn[] = "Not signed in";      // a check before the sign-in completed
inline constexpr char BadContact[] = "Bad contact";         // holds a space or line break
inline constexpr char NoSuchUser[] = "No such user";        // the service has no account by that address
inline constexpr char CheckRefused[] = "Check refused";     // the service would not let us ask
inline constexpr char NoAnswer[] = "No answer";             // nothing came back in time
inline constexpr char Reconnecting[] = "Reconnecting...";   // signing in again after a loss
inline constexpr char SignedInElsewhere[] = "Signed in elsewhere"; // the account was signed in somewhere else
inline constexpr char ServerBusy[] = "Server busy";         // the service is busy or we asked too fast
inline constexpr char StatusUnknown[] = "Status unknown";   // "not online" from an entry that may be stale
inline constexpr char NoServerSet[] = "No server set";      // no server named to sign in at
} // namespace SessionText
