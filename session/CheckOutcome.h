// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

// How one status check ended. The window puts it into words.
enum class Outcome {
    Online,       // the contact's client rang
    Offline,      // the service says the contact is not online
    NoSuchUser,   // the service has no account by that address
    Refused,      // the service would not let us ask, or answered something else: nothing is known
    NoAnswer,     // nothing came back in time
    BadContact,   // the address cannot go on the wire
    NotConnected, // asked with no connection to the service
    NotSignedIn,  // asked before the sign-in finished
    Interrupted,  // the connection to the service went before the answer came
    Cancelled,    // the one who asked gave up on it
    Busy,         // the service is busy or says we go too fast: ask again later, slower
    Uncertain,    // "not online" for a contact whose status the service does not keep up to date for us
};

// Where the second account's session stands.
enum class SessionState {
    Stopped,        // not started, or stopped for good by the program
    Connecting,     // connecting and signing in
    SignedIn,       // signed in: checks can be asked
    WaitingToRetry, // lost or failed; it signs in again by itself after a while
    GaveUp,         // refused by the service: trying again would not help
};

enum class SessionProblem {
    None,
    CannotConnect,  // refused, unreachable, too slow, or sent in circles
    ConnectionLost, // the service dropped us, stopped reading, or sent what no server sends
    SignInStalled,  // connected, but the sign-in never finished
    SignInRefused,  // an error reply to our sign-in: a wrong account or password mostly
    BadAccount,     // the account cannot go on the wire as one field
    SignedInElsewhere, // the same account signed in somewhere else, and the service sent us away
    NoServer,       // the user named no server: none is guessed
};

struct SessionStatus {
    SessionState state = SessionState::Stopped;
    SessionProblem problem = SessionProblem::None; // why it is waiting, or gave up
    bool again = false;                            // a sign-in after one that was lost or failed
    friend bool operator==(const SessionStatus&, const SessionStatus&) = default;
};

// What is kept of a check: the marks a contact's row shows.
enum class ResultKind {
    Online,
    Offline,
    NoSuchUser,
    Unknown, // refused, or no answer: nothing is known
    Uncertain, // the service said "not online", but its word for this contact cannot be trusted
};

// nullopt for the outcomes that say nothing about the contact because it was never asked.
inline std::optional<ResultKind> resultKind(Outcome outcome) {
    switch (outcome) {
    case Outcome::Online: return ResultKind::Online;
    case Outcome::Offline: return ResultKind::Offline;
    case Outcome::NoSuchUser: return ResultKind::NoSuchUser;
    case Outcome::Refused:
    case Outcome::NoAnswer:
    case Outcome::BadContact: return ResultKind::Unknown;
    case Outcome::Uncertain: return ResultKind::Uncertain;
    case Outcome::NotConnected:
    case Outcome::NotSignedIn:
    case Outcome::Interrupted:
    case Outcome::Cancelled:
    case Outcome::Busy: break;
    }
    return std::nullopt;
}
