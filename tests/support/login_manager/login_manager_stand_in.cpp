// A stand-in for the login manager on a private bus, for tests of the
// shutdown delay: it owns "org.freedesktop.login1" and answers the Manager's
// Inhibit call with one end of a pipe, as the real one does, and notices
// when every copy of that end has been closed.
//
//   login_manager_stand_in ADDRESS REPORT [--refuse]
//
// It appends to REPORT "ready" once it owns the name, then for each call
// "taken WHAT|WHO|WHY|MODE" (or "refused ..." with --refuse, answering with
// an error), and "released" when a lock it handed out was let go. It ends
// when the bus goes away.

#include <dbus/dbus.h>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

void report(const std::string& file, const std::string& line)
{
    std::ofstream(file, std::ios::app) << line << std::endl;
}

void answer(DBusConnection* bus, DBusMessage* call, const std::string& reportFile, bool refuse, std::vector<int>& held)
{
    const char* what = "";
    const char* who = "";
    const char* why = "";
    const char* mode = "";
    DBusError error;
    dbus_error_init(&error);
    if (!dbus_message_get_args(call, &error, DBUS_TYPE_STRING, &what, DBUS_TYPE_STRING, &who, DBUS_TYPE_STRING, &why,
            DBUS_TYPE_STRING, &mode, DBUS_TYPE_INVALID)) {
        DBusMessage* reply = dbus_message_new_error(call, DBUS_ERROR_INVALID_ARGS, error.message);
        dbus_connection_send(bus, reply, nullptr);
        dbus_message_unref(reply);
        dbus_error_free(&error);
        return;
    }
    std::string arguments = std::string(what) + "|" + who + "|" + why + "|" + mode;
    if (refuse) {
        report(reportFile, "refused " + arguments);
        DBusMessage* reply = dbus_message_new_error(call, DBUS_ERROR_ACCESS_DENIED, "Inhibiting is not allowed here.");
        dbus_connection_send(bus, reply, nullptr);
        dbus_message_unref(reply);
        return;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return;
    DBusMessage* reply = dbus_message_new_method_return(call);
    dbus_message_append_args(reply, DBUS_TYPE_UNIX_FD, &ends[1], DBUS_TYPE_INVALID);
    // Reported before the answer leaves, so a caller that has its lock
    // finds it in the report.
    report(reportFile, "taken " + arguments);
    dbus_connection_send(bus, reply, nullptr);
    dbus_connection_flush(bus);
    dbus_message_unref(reply);
    // The message kept its own copy; once the caller closes its copies the
    // read end sees the end of the pipe.
    ::close(ends[1]);
    held.push_back(ends[0]);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: login_manager_stand_in ADDRESS REPORT [--refuse]\n";
        return 2;
    }
    const std::string reportFile = argv[2];
    const bool refuse = argc > 3 && std::string(argv[3]) == "--refuse";

    DBusError error;
    dbus_error_init(&error);
    DBusConnection* bus = dbus_connection_open_private(argv[1], &error);
    if (bus == nullptr || !dbus_bus_register(bus, &error)) {
        std::cerr << "no bus: " << (dbus_error_is_set(&error) ? error.message : "?") << "\n";
        return 1;
    }
    if (dbus_bus_request_name(bus, "org.freedesktop.login1", DBUS_NAME_FLAG_DO_NOT_QUEUE, &error)
        != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) {
        std::cerr << "could not own the name\n";
        return 1;
    }
    report(reportFile, "ready");

    int busFd = -1;
    dbus_connection_get_unix_fd(bus, &busFd);
    std::vector<int> held;
    while (dbus_connection_get_is_connected(bus)) {
        std::vector<pollfd> watched { { busFd, POLLIN, 0 } };
        for (int fd : held)
            watched.push_back({ fd, POLLIN, 0 });
        if (::poll(watched.data(), watched.size(), -1) < 0)
            continue;
        for (std::size_t i = 1; i < watched.size(); ++i) {
            if (watched[i].revents != 0) {
                ::close(watched[i].fd);
                std::erase(held, watched[i].fd);
                report(reportFile, "released");
            }
        }
        if (watched[0].revents == 0)
            continue;
        if (!dbus_connection_read_write(bus, 0))
            break;
        while (DBusMessage* message = dbus_connection_pop_message(bus)) {
            if (dbus_message_is_method_call(message, "org.freedesktop.login1.Manager", "Inhibit"))
                answer(bus, message, reportFile, refuse, held);
            else if (dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                DBusMessage* reply = dbus_message_new_error(message, DBUS_ERROR_UNKNOWN_METHOD, "Only Inhibit is here.");
                dbus_connection_send(bus, reply, nullptr);
                dbus_message_unref(reply);
            }
            dbus_message_unref(message);
        }
        dbus_connection_flush(bus);
    }
    return 0;
}
