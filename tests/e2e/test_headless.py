"""The headless program listens on its configured port and logs one visit line per request."""
import os
import re
import sys

from vistelle_e2e import Program, free_port, send


def full_visits():
    """With the defaults (sound and popup on) and a country file of the user's own."""
    port = free_port()
    # Each visit's own popup is looked at: no summaries for this quick series.
    program = Program(settings={"ListenPort": str(port), "usedyndns": "0", "AlertBurst": "100"})
    data = os.path.join(program.home, ".local", "share", "vistelle")
    os.makedirs(data, exist_ok=True)
    with open(os.path.join(data, "GeoIPCountryWhois.csv"), "w", encoding="utf-8") as f:
        f.write('"127.0.0.0","127.255.255.255",2130706432,2147483647,"ZZ",Loopback Land\n')
    program.start()
    try:
        program.wait_line(f"Listening for connections on port: {port}")
        # The program's own address-script call is ignored; a request without a page is logged
        # whole.
        send(port, b"GET /sendip.asp HTTP/1.1\r\nHost: localhost\r\n\r\n")
        send(port, b"GET /t.gif HTTP/1.1\r\nHost: me:1\r\n\r\n")
        program.wait_line("GET /t.gif HTTP/1.1 Host: me:1")
        send(port, b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/dir/p.html\r\n\r\n")
        program.wait_line("Popup: Loopback Land | Visited page: http://site.example/  dir/p.html")
        # The same visitor asking for the same page again at once is a repeat: no further visit line.
        send(port, b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/dir/p.html\r\n\r\n")
        send(port, b"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/other.html\r\n\r\n")
        lines = program.wait_line("Visited page: http://site.example/  other.html")
        # A page in a script that the fonts cannot shape (Syriac) shows in the popup without the
        # font engine's warnings reaching standard error.
        send(port, "GET /t.gif HTTP/1.1\r\nReferer: http://site.example/\u0710\u0712\u0713.html\r\n\r\n"
             .encode("utf-8"))
        program.wait_line("Visited page: http://site.example/  \u0710\u0712\u0713.html")
        font_notes = [e for e in program.errors if "OpenType support missing" in e]
        assert not font_notes, font_notes
        visits = [l for l in lines if "Visit: " in l][:3]
        assert [v.split("] ", 1)[1] for v in visits] == [
            "Visit: 127.0.0.1 -> Unknown",
            "Visit: 127.0.0.1 -> http://site.example/dir/p.html",
            "Visit: 127.0.0.1 -> http://site.example/other.html"], visits
        unknown = [l.split("] ", 1)[1] for l in lines if "'Unknown'" in l or "complete header" in l]
        assert unknown == ["Wiinsock returned 'Unknown' for page URL",
                           "The following is complete header received:"], unknown
    finally:
        code = program.stop()
    assert code == 0, f"exit code {code}"


def main():
    full_visits()
    port = free_port()
    program = Program(settings={"ListenPort": str(port), "SoundAlert": "0", "PopupAlert": "0",
                                "usedyndns": "0"}).start()
    try:
        program.wait_line(f"Listening for connections on port: {port}")
        stamp = re.compile(r"^\[\d\d:\d\d:\d\d\] ")
        for i in range(3):
            reply = send(port, f"GET /t.gif HTTP/1.1\r\nHost: me\r\nReferer: http://site.example/p{i}.html\r\n\r\n"
                         .encode())
            assert reply == b"", f"the program answered {reply!r}"
        lines = program.wait_for(lambda ls: sum("Visit: " in l for l in ls) >= 3, what="three visit lines")
        visits = [l for l in lines if "Visit: " in l]
        for i, line in enumerate(visits):
            assert stamp.match(line), line
            assert line.endswith(f"Visit: 127.0.0.1 -> http://site.example/p{i}.html"), line
        # Markup is plain text, also on the console.
        send(port, b"GET / HTTP/1.1\r\nReferer: <b>x</b>\r\n\r\n")
        program.wait_line("Visit: 127.0.0.1 -> <b>x</b>")
        # Terminal controls (a window title, a C1 CSI, NEL) and a bidi override never reach standard
        # output raw; a 60 KB referer is cut to 4,096 characters.
        send(port, "GET / HTTP/1.1\r\nReferer: http://e.example/\x1b]0;owned\x07\x00\u009b2J\u0085\u202e\r\n\r\n"
             .encode("utf-8"))
        program.wait_line("Visit: 127.0.0.1 -> http://e.example/\ufffd]0;owned\ufffd\ufffd\ufffd2J \ufffd")
        send(port, b"GET / HTTP/1.1\r\nReferer: http://l.example/" + b"x" * 60000 + b"\r\n\r\n")
        lines = program.wait_line("Visit: 127.0.0.1 -> http://l.example/" + "x" * (4096 - 17))
        assert not any(c in line for line in lines for c in "\x1b\x07\x00\u009b\u0085\u202e"), lines
        assert max(len(line) for line in lines) < 4200
    finally:
        code = program.stop()
    print("\n".join(program.output()))
    assert code == 0, f"exit code {code}"
    return 0


if __name__ == "__main__":
    sys.exit(main())
