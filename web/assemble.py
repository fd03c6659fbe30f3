"""Makes the page and the npm package's folder from the module and the sources
beside this file:

    assemble.py MODULE.wasm VERSION LICENSE OUT/wpp.html OUT/package

The page is one file: its style, its script (codec.js, then page.js) and the
module inline, and a content security policy that allows those two by their
hashes, WebAssembly, and nothing from anywhere else. The same inputs give the
same bytes.
"""

import base64
import hashlib
import os
import re
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))


def source(name):
    with open(os.path.join(here, name), encoding="utf-8") as f:
        return f.read()


def write(path, text):
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)


def csp_hash(text):
    return "'sha256-%s'" % base64.b64encode(hashlib.sha256(text.encode()).digest()).decode()


def main(module_path, version, license_path, page_path, package_dir):
    with open(module_path, "rb") as f:
        module = base64.b64encode(f.read()).decode()
    codec = source("codec.js").replace("@WPP_MODULE_BASE64@", module)

    # The page's one script: the codec's functions, then what uses them.
    script = "\n" + re.sub(r"^export ", "", codec, flags=re.M) + "\n" + source("page.js")
    style = "\n" + source("page.css")
    policy = ("default-src 'none'; script-src %s 'wasm-unsafe-eval'; style-src %s; "
              "base-uri 'none'; form-action 'none'" % (csp_hash(script), csp_hash(style)))
    page = source("page.html")
    for key, value in (("@POLICY@", policy), ("@VERSION@", version), ("@STYLE@", style),
                       ("@SCRIPT@", script)):
        assert key in page, key
        page = page.replace(key, value)
    write(page_path, page)

    shutil.rmtree(package_dir, ignore_errors=True)
    os.makedirs(package_dir)
    write(os.path.join(package_dir, "wpp.js"), codec)
    write(os.path.join(package_dir, "package.json"), source("package.json.in").replace("@VERSION@", version))
    for name in ("wpp.d.ts", "README.md"):
        write(os.path.join(package_dir, name), source(name))
    shutil.copyfile(license_path, os.path.join(package_dir, "LICENSE"))


if __name__ == "__main__":
    main(*sys.argv[1:])
