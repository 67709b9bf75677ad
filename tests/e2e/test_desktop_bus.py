"""The desktop's D-Bus services, as KDE, GNOME with AppIndicator and most others offer them: a
StatusNotifierWatcher and a notification server of the test's own on a private session bus. The
real program on an X display registers its tray icon with the watcher, its menu (dbusmenu) lists
the tray menu's items; with PopupStyle=notification a visit is one Notify call with the popup's
texts, and invoking its "Whois" action opens the whois window for that visitor."""
import os
import socket
import sys
import threading

import gi
from gi.repository import Gio, GLib

from accessibility import SessionBus
from vistelle_e2e import Program, free_port, poll
from x11_session import XSession

WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
</interface></node>"""

NOTIFICATIONS_XML = """<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
<arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
<arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/></method>
<method name="GetCapabilities"><arg type="as" direction="out"/></method>
<method name="GetServerInformation"><arg type="s" direction="out"/><arg type="s" direction="out"/>
<arg type="s" direction="out"/><arg type="s" direction="out"/></method>
<method name="CloseNotification"><arg type="u" direction="in"/></method>
<signal name="ActionInvoked"><arg type="u"/><arg type="s"/></signal>
<signal name="NotificationClosed"><arg type="u"/><arg type="u"/></signal>
</interface></node>"""


class DesktopServices:
    """The watcher and the notification server, answering on a GLib main loop of their own."""

    def __init__(self, address):
        self.items = []  # (sender, service or path) of RegisterStatusNotifierItem
        self.notes = []  # (id, summary, body, actions) of Notify
        self.bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
            None, None)
        watcher = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
        notifications = Gio.DBusNodeInfo.new_for_xml(NOTIFICATIONS_XML).interfaces[0]
        self.bus.register_object("/StatusNotifierWatcher", watcher, self._watcher_call, self._watcher_property)
        self.bus.register_object("/org/freedesktop/Notifications", notifications, self._notify_call, None)
        for name in ("org.kde.StatusNotifierWatcher", "org.freedesktop.Notifications"):
            self.bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "RequestName", GLib.Variant("(su)", (name, 4)), None, 0, -1, None)
        self.loop = GLib.MainLoop()
        threading.Thread(target=self.loop.run, daemon=True).start()

    def _watcher_call(self, bus, sender, path, interface, method, args, invocation):
        if method == "RegisterStatusNotifierItem":
            self.items.append((sender, args.unpack()[0]))
        invocation.return_value(None)

    def _watcher_property(self, bus, sender, path, interface, name):
        values = {"RegisteredStatusNotifierItems": GLib.Variant("as", [i[1] for i in self.items]),
                  "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                  "ProtocolVersion": GLib.Variant("i", 0)}
        return values[name]

    def _notify_call(self, bus, sender, path, interface, method, args, invocation):
        if method == "Notify":
            _app, replaces, _icon, summary, body, actions, _hints, _timeout = args.unpack()
            note = replaces or len(self.notes) + 1
            self.notes.append((note, summary, body, actions))
            invocation.return_value(GLib.Variant("(u)", (note,)))
        elif method == "GetCapabilities":
            invocation.return_value(GLib.Variant("(as)", (["actions", "body"],)))
        elif method == "GetServerInformation":
            invocation.return_value(GLib.Variant("(ssss)", ("test", "vistelle", "1", "1.2")))
        else:
            invocation.return_value(None)

    def invoke(self, note, action):
        self.bus.emit_signal(None, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                             "ActionInvoked", GLib.Variant("(us)", (note, action)))

    def menu_labels(self, sender, item):
        # The item is named by its service, or by its object path on the sender's connection.
        service, path = (sender, item) if item.startswith("/") else (item, "/StatusNotifierItem")
        menu = self.bus.call_sync(service, path, "org.freedesktop.DBus.Properties", "Get",
                                  GLib.Variant("(ss)", ("org.kde.StatusNotifierItem", "Menu")), None, 0, 5000,
                                  None).unpack()[0]
        layout = self.bus.call_sync(service, menu, "com.canonical.dbusmenu", "GetLayout",
                                    GLib.Variant("(iias)", (0, -1, [])), None, 0, 5000, None).unpack()[1]
        labels = []

        def walk(node):
            _id, properties, children = node
            if "label" in properties:
                labels.append(properties["label"].replace("_", "").replace("&", ""))
            for child in children:
                walk(child)
        walk(layout)
        return labels

    def close(self):
        self.loop.quit()


def main():
    port = free_port()
    settings = {"ListenPort": str(port), "usedyndns": "0", "SoundAlert": "0", "PopupStyle": "notification",
                "EchoPageURL": "http://127.0.0.1:1/", "UpdateStatusURL": "http://127.0.0.1:1/",
                "UpdateVersionURL": "http://127.0.0.1:1/"}
    with XSession() as x:
        bus = SessionBus(x.env)
        services = DesktopServices(bus.address)
        try:
            program = Program(settings=settings, args=(), env=dict(x.program_env, DBUS_SESSION_BUS_ADDRESS=bus.address))
            program.start()
            try:
                run(x, services, program, port)
            finally:
                program.stop()
        finally:
            services.close()
            bus.close()
    return 0


def run(x, services, program, port):
    poll(lambda: services.items, 20, "the tray icon registered with the watcher")
    labels = services.menu_labels(*services.items[0])
    for label in ("Show", "Pause Alerts", "Resume Alerts", "History...", "Quit"):
        assert any(l.startswith(label) for l in labels), labels

    def visit():
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
                s.sendall(b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: https://www.example.com/a.html\r\n\r\n")
                return s.recv(64) == b""
        except ConnectionRefusedError:
            return False
    poll(visit, 10, "a visit taken")
    note = poll(lambda: next((n for n in services.notes if "www.example.com" in n[2]), None), 10,
                "the visit's notification")
    assert note[1] == "Visitor: 127.0.0.1", note
    assert note[2] == "Visited page: https://www.example.com/  a.html", note
    assert note[3] == ["whois", "Whois", "open", "Open page"], note

    services.invoke(note[0], "whois")
    poll(lambda: any(w.name == "Whois" and x.viewable(w.id) for w in x.tree()), 15, "the whois window")


if __name__ == "__main__":
    sys.exit(main())
