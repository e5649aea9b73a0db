#include "platform/desktop/login_manager_inhibitor.hpp"

#include "platform/error.hpp"

#include <dbus/dbus.h>
#include <fcntl.h>
#include <memory>

namespace quillmark::platform {
namespace {

constexpr std::string_view domain = "login-manager";
constexpr long noAnswer = 1;
constexpr long refused = 2;

struct ErrorText {
    DBusError error {};
    ErrorText() { dbus_error_init(&error); }
    ~ErrorText() { dbus_error_free(&error); }
    std::string text() const { return dbus_error_is_set(&error) ? std::string(error.message) : std::string(); }
};

struct ConnectionCloser {
    void operator()(DBusConnection* connection) const
    {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;

struct MessageReleaser {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageReleaser>;

[[noreturn]] void fail(long code, const std::string& why)
{
    throw Error(std::string(domain), code, "The login manager could not be asked to hold off shutdown: " + why);
}

// A private connection, so that closing it never disturbs another user of
// the bus in this process, and a bus that goes away never ends the process.
Connection connect(const std::optional<std::string>& address)
{
    ErrorText problem;
    DBusConnection* connection = nullptr;
    if (address) {
        connection = dbus_connection_open_private(address->c_str(), &problem.error);
        if (connection != nullptr && !dbus_bus_register(connection, &problem.error)) {
            dbus_connection_close(connection);
            dbus_connection_unref(connection);
            connection = nullptr;
        }
    } else {
        connection = dbus_bus_get_private(DBUS_BUS_SYSTEM, &problem.error);
    }
    if (connection == nullptr)
        fail(noAnswer, problem.text().empty() ? "no system bus" : problem.text());
    dbus_connection_set_exit_on_disconnect(connection, FALSE);
    return Connection(connection);
}

} // namespace

LoginManagerInhibitor::LoginManagerInhibitor(std::optional<std::string> busAddress)
    : busAddress_(std::move(busAddress))
{
}

ShutdownDelay LoginManagerInhibitor::delay(std::string_view why) const
{
    auto connection = connect(busAddress_);
    Message call(dbus_message_new_method_call(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "Inhibit"));
    if (!call)
        fail(noAnswer, "out of memory");
    std::string reason(why);
    const char* what = "shutdown:sleep";
    const char* who = "Quillmark installer";
    const char* reasonText = reason.c_str();
    const char* mode = "delay";
    if (!dbus_message_append_args(call.get(), DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who, DBUS_TYPE_STRING,
            &reasonText, DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID))
        fail(noAnswer, "out of memory");

    ErrorText problem;
    Message reply(dbus_connection_send_with_reply_and_block(
        connection.get(), call.get(), DBUS_TIMEOUT_USE_DEFAULT, &problem.error));
    if (!reply) {
        bool missing = dbus_error_has_name(&problem.error, DBUS_ERROR_SERVICE_UNKNOWN)
            || dbus_error_has_name(&problem.error, DBUS_ERROR_NAME_HAS_NO_OWNER);
        fail(missing ? noAnswer : refused, problem.text());
    }
    int descriptor = -1;
    if (!dbus_message_get_args(reply.get(), &problem.error, DBUS_TYPE_UNIX_FD, &descriptor, DBUS_TYPE_INVALID))
        fail(refused, problem.text());
    // The library hands over a descriptor of our own; it must not reach a
    // program started later, or that program would hold the delay too.
    ::fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    return ShutdownDelay(UniqueFd(descriptor));
}

} // namespace quillmark::platform
