"""Locales the tests run the client under, and the language ids Wine derives.

Wine takes a process's system language from its locale settings (LC_ALL,
then LC_CTYPE/LC_MESSAGES, then LANG), by the locale's name. The locale must
exist in glibc, otherwise setlocale() falls back to "C" and Wine reports
1033. glibc has no zh_MO; a locale compiled from zh_HK's data under the name
zh_MO.UTF-8 gives Wine the name it needs for 5124.

Run as `python3 -m harness.locales [--generate]` to list (or, as root,
generate) what is missing.
"""

import os
import subprocess
import sys

# Locale -> (language id Wine reports, glibc source it is compiled from).
LOCALES = {
    "en_US.UTF-8": (1033, "en_US"),
    "zh_CN.UTF-8": (2052, "zh_CN"),
    "zh_HK.UTF-8": (3076, "zh_HK"),
    "zh_TW.UTF-8": (1028, "zh_TW"),
    "zh_SG.UTF-8": (4100, "zh_SG"),
    "en_GB.UTF-8": (2057, "en_GB"),
    "zh_MO.UTF-8": (5124, "zh_HK"),
}

LANG_IDS = {name: lang for name, (lang, _) in LOCALES.items()}


def _normalise(name):
    # `locale -a` prints "zh_CN.utf8" for "zh_CN.UTF-8".
    base, _, codeset = name.partition(".")
    return base + "." + codeset.lower().replace("-", "") if codeset else base


def installed():
    out = subprocess.run(["locale", "-a"], capture_output=True, text=True, check=True).stdout
    return {_normalise(line.strip()) for line in out.splitlines() if line.strip()}


def missing():
    have = installed()
    return [name for name in LOCALES if _normalise(name) not in have]


def generate(names=None, log=print):
    """Compiles the given (default: missing) locales into glibc's archive."""
    for name in names if names is not None else missing():
        source = LOCALES[name][1]
        if not os.path.exists(f"/usr/share/i18n/locales/{source}"):
            raise RuntimeError(f"glibc has no locale source {source}; install the 'locales' package")
        log(f"generating locale {name} from {source}")
        subprocess.run(["localedef", "-i", source, "-f", "UTF-8", name], check=True)


def require(name):
    if name not in LOCALES and _normalise(name) not in installed():
        raise RuntimeError(f"locale {name} is not installed")
    if name in LOCALES and name in missing():
        raise RuntimeError(f"locale {name} is not installed; run scripts/setup.sh "
                           f"(or python3 -m harness.locales --generate as root)")


def main(argv):
    if "--generate" in argv:
        generate()
    gaps = missing()
    for name, (lang, source) in LOCALES.items():
        print(f"{name:14} {lang:5}  from {source:6}  {'MISSING' if name in gaps else 'ok'}")
    return 1 if gaps else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
