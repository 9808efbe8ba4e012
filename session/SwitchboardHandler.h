#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

// The switchboard connection's reply table (what wsChat_DataArrival does),
// free of sockets. The lines it sends carry the fixed numbers 1 and 2.
class SwitchboardHandler {
public:
    struct Send {
        QByteArray line; // complete, with its CR LF
    };
    enum class Result { Online, Offline };
    struct Close {};
    // The contact to call cannot go on the wire as one field.
    struct BadContact {};
    using Action = std::variant<Send, Result, Close, BadContact>;
    using Actions = std::vector<Action>;

    // Asked when the switchboard accepts us, so the call goes to whoever is
    // selected then.
    explicit SwitchboardHandler(std::function<std::optional<QString>()> selectedContact);

    // "USR 1 account auth"; nullopt when either would not be a single field.
    static std::optional<QByteArray> signInLine(const QString& account, const QByteArray& auth);

    // One complete line, without its CR LF.
    Actions line(const QByteArray& text) const;

private:
    std::function<std::optional<QString>()> m_selectedContact;
};
