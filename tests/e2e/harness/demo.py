"""The sealed demo world behind scripts/run.sh.

    python3 -m harness.demo [--locale zh_CN.UTF-8] [--ras en] [--xvfb] [--dpi 144] [--screenshot PATH]

Starts the client in a namespace of its own, with simulated service:
echo servers with realistic delays (one of them silent), the update host
offering no newer version, and a RAS double that connects. On the caller's
display when $DISPLAY can be reached (the demo then runs until the client
ends or Ctrl-C), otherwise on a private Xvfb, where a screenshot is written
once the window shows and the demo ends.

Extension points: each simulated service is a DemoService in SERVICES. A
service whose module is not there yet is reported and left out, so the demo
runs with whatever the test world already offers.
"""

import argparse
import os
import sys
import time

from PIL import ImageChops

from . import endpoints, sandbox
from .world import World

# Round trips of the catalogue's servers, in catalogue order (None: silent).
DEMO_DELAYS_MS = (35, 48, 72, None, 120, 180)


class ServiceUnavailable(Exception):
    """A simulated service cannot run (its module is missing)."""


class DemoService:
    name = "service"

    def start(self, world, values):
        raise NotImplementedError

    def stop(self):
        pass


class EchoServers(DemoService):
    """The six servers answer ICMP echoes after DEMO_DELAYS_MS (harness.icmp_responder)."""

    name = "echo servers"

    def __init__(self):
        self._responder = None

    def start(self, world, values):
        try:
            from . import icmp_responder
        except ImportError as error:
            raise ServiceUnavailable(error) from None
        responder = icmp_responder.IcmpResponder()
        responder.start()
        self._responder = responder
        for address, delay in zip(endpoints.servers(world.build_dir), DEMO_DELAYS_MS):
            responder.set(address, icmp_responder.SILENT if delay is None else icmp_responder.reply(delay))
        return ", ".join(f"{a} {'silent' if d is None else f'{d} ms'}"
                         for a, d in zip(endpoints.servers(world.build_dir), DEMO_DELAYS_MS))

    def stop(self):
        if self._responder is not None:
            self._responder.stop()


class UpdateService(DemoService):
    """The update host offers the client's own version: nothing newer (harness.update_host)."""

    name = "update host"

    def __init__(self):
        self._host = None

    def start(self, world, values):
        try:
            from . import update_host
        except ImportError as error:
            raise ServiceUnavailable(error) from None
        version = client_version(world.build_dir)
        host = update_host.UpdateHost()
        host.serve("/Velmar/lastver.html", version.encode())
        host.start()
        self._host = host
        world.map_host(values["UpdateHost"], "127.0.0.1")
        return f"{values['UpdateHost']} offers {version}"

    def stop(self):
        if self._host is not None:
            self._host.stop()


class IntelligentName(DemoService):
    """The host name dialled for "Intelligent" resolves to the first server."""

    name = "intelligent host"

    def start(self, world, values):
        world.map_host(values["IntelligentHost"], values["ServerCT1"])
        return f"{values['IntelligentHost']} -> {values['ServerCT1']}"


class RasService(DemoService):
    """The RAS double (harness.ras_double) dials any user name and password
    through the states a VPN dial reports, in about four seconds, connects
    and stays connected: the client shows each state, hides into the tray
    and shows its connection balloon and statistics."""

    name = "remote access service"
    # (RASCONNSTATE, ms before it is reported): port, device (the tunnel to
    # the server), authentication, projection, connected.
    DIAL = [(0, 300), (1, 250), (2, 700), (3, 500), (4, 200), (5, 400), (6, 600), (10, 300), (11, 200),
            (14, 300), (0x2000, 250)]
    CLIENT_IP = "10.8.0.42"

    def start(self, world, values):
        try:
            from .ras_double import RasDouble
        except ImportError as error:
            raise ServiceUnavailable(error) from None
        # The client's double reads this directory (World.start_app).
        ras = RasDouble(os.path.join(world.run_dir, "ras"))
        ras.reset()
        ras.configure(states=self.DIAL, projection_ip=self.CLIENT_IP)
        ras.remove_entry()
        seconds = sum(delay for _, delay in self.DIAL) / 1000
        return (f"any user name and password connect after {len(self.DIAL)} states in {seconds:.1f} s, "
                f"client address {self.CLIENT_IP}")


SERVICES = (EchoServers, UpdateService, IntelligentName, RasService)


class DemoServices:
    """Starts every available service for a world; stops them in reverse."""

    def __init__(self, world, services=SERVICES, log=print):
        self.world = world
        self.services = [cls() for cls in services]
        self.log = log
        self.running = []

    def __enter__(self):
        values = endpoints.load(self.world.build_dir)
        for service in self.services:
            try:
                detail = service.start(self.world, values)
                self.running.append(service)
                self.log(f"demo: {service.name}: {detail}")
            except ServiceUnavailable as why:
                self.log(f"demo: {service.name}: not available yet ({why})")
        return self

    def __exit__(self, *exc):
        for service in reversed(self.running):
            service.stop()
        return False


def client_version(build):
    """The project version CMake configured (3.0.7 when it cannot be read)."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith("CMAKE_PROJECT_VERSION:"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return "3.0.7"


def ras_for_locale(locale):
    if locale.startswith(("zh_CN", "zh_SG")):
        return "zhcn"
    if locale.startswith(("zh_TW", "zh_HK", "zh_MO")):
        return "zhtw"
    return "en"


def _changed_pixels(a, b):
    if a.size != b.size:
        return a.width * a.height
    return ImageChops.difference(a, b).convert("L").point(lambda v: 255 if v else 0).histogram()[255]


def _settled_screenshot(world, hwnd, timeout=15.0):
    """A screenshot once the window has stopped changing for a second
    (start-up painting; a blinking caret does not count), or the last one."""
    deadline = time.monotonic() + timeout
    shot = world.screenshot(hwnd)
    since = time.monotonic()
    while time.monotonic() < deadline and time.monotonic() - since < 1.0:
        time.sleep(0.2)
        current = world.screenshot(hwnd)
        if _changed_pixels(shot, current) > 64:
            since = time.monotonic()
        shot = current
    return shot


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m harness.demo", description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.environ.get("KIVO_BUILD_DIR"))
    parser.add_argument("--locale", default="en_US.UTF-8")
    parser.add_argument("--ras", default=None, help="RAS double flavour (default: by the locale)")
    parser.add_argument("--xvfb", action="store_true", help="use a private Xvfb even when $DISPLAY works")
    parser.add_argument("--screenshot", default=None, help="PNG path (Xvfb only)")
    parser.add_argument("--dpi", type=int, default=96, help="display DPI: 96 is 100%%, 144 is 150%%")
    parser.add_argument("--timeout", type=float, default=60, help="seconds to wait for the window")
    args = parser.parse_args(argv)
    if not args.build:
        parser.error("--build or KIVO_BUILD_DIR is required")
    build = os.path.abspath(args.build)
    os.environ["KIVO_BUILD_DIR"] = build  # the harness takes the architecture from the build tree
    screenshot = os.path.abspath(args.screenshot or os.path.join(build, "demo-screenshot.png"))

    sandbox.enter()
    # The Chinese text set (zh_CN, zh_SG) needs Chinese glyphs at the skin's metrics.
    fonts = "cjk" if args.locale.startswith("zh_") else "en"
    with World(build_dir=build, display=None if args.xvfb else "auto", name="demo", fonts=fonts,
               dpi=args.dpi) as world, \
            DemoServices(world):
        where = "a private Xvfb" if world.on_xvfb else f"display {world.display}"
        print(f"demo: starting the client on {where} (locale {args.locale})")
        flavour = args.ras or ras_for_locale(args.locale)
        if not os.path.exists(world.ras_double(flavour)):
            print(f"demo: RAS double {flavour!r}: not built yet; the client gets Wine's own stub")
            flavour = None
        else:
            print(f"demo: RAS double {flavour!r}: dials connect")
        app = world.start_app(locale=args.locale, ras=flavour)
        started = time.monotonic()
        hwnd = app.wait_window("Kivoline", visible=True, timeout=args.timeout)
        print(f"demo: the main window showed after {time.monotonic() - started:.1f} s")
        if world.on_xvfb:
            _settled_screenshot(world, hwnd).save(screenshot)
            print(f"demo: screenshot written to {screenshot}")
        else:
            print("demo: running; end it with the client's Exit button or Ctrl-C")
            try:
                app.process.wait()
            except KeyboardInterrupt:
                print("demo: interrupted")
    print("demo: ended cleanly")
    return 0


if __name__ == "__main__":
    sys.exit(main())
