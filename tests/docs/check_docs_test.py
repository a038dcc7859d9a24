"""scripts/check-docs on a copy of the README and docs/: it passes on them as they are, and on a
planted broken link, a missing heading and a code block naming a script and a tool that do not
exist it fails with each fault's file and line."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE = None


def copy_of_the_clone(scratch):
    """The README and docs/ copied, everything else of the clone linked."""
    for name in os.listdir(SOURCE):
        if name in ("README.md", "docs", ".git", "build"):
            continue
        os.symlink(os.path.join(SOURCE, name), os.path.join(scratch, name))
    shutil.copy(os.path.join(SOURCE, "README.md"), scratch)
    shutil.copytree(os.path.join(SOURCE, "docs"), os.path.join(scratch, "docs"))


def check(root):
    return subprocess.run(["/usr/bin/python3", os.path.join(SOURCE, "scripts", "check-docs"), "--root", root],
                          capture_output=True, text=True, timeout=60)


class CheckDocs(unittest.TestCase):
    def test_passes_as_is_and_names_every_planted_fault(self):
        with tempfile.TemporaryDirectory() as scratch:
            copy_of_the_clone(scratch)
            clean = check(scratch)
            self.assertEqual(clean.returncode, 0, clean.stdout)

            page = os.path.join(scratch, "docs", "testing.md")
            with open(page, encoding="utf-8") as text:
                lines = len(text.readlines())
            with open(page, "a", encoding="utf-8") as text:
                text.write("\nSee [the guide](guide.md) and [tools](tools.md#no-such-heading).\n"
                           "\n```sh\nscripts/no-such-script --now\n"
                           "build/release/tools/np3-nothing/np3-nothing --seconds 1\n"
                           "mura-nothing --mode hw | tee scripts/build.log\n```\n")
            broken = check(scratch)
            self.assertEqual(broken.returncode, 1)
            self.assertEqual(broken.stdout.splitlines(), [
                f"docs/testing.md:{lines + 2}: link guide.md names no file: docs/guide.md",
                f"docs/testing.md:{lines + 2}: link tools.md#no-such-heading names no heading of docs/tools.md",
                f"docs/testing.md:{lines + 5}: code names scripts/no-such-script, which does not exist",
                f"docs/testing.md:{lines + 6}: code names build/.../tools/np3-nothing/np3-nothing, "
                "but there is no tools/np3-nothing",
                f"docs/testing.md:{lines + 7}: code names scripts/build.log, which does not exist",
                f"docs/testing.md:{lines + 7}: code names the tool mura-nothing, but there is no tools/mura-nothing",
                f"docs: {1 + len(os.listdir(os.path.join(scratch, 'docs')))} pages, 6 faults",
            ])


if __name__ == "__main__":
    SOURCE = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
