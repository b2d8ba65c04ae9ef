# The manual page and the shell completions the build writes with
# 'tarvo --generate', held against what 'tarvo --help' and each command's
# --help say, and bash completion run as bash runs it. Run with TARVO set to
# the tool and TARVO_GENERATED to the build's share/ directory; Python 3.
import os
import re
import shutil
import subprocess
import unittest

TARVO = os.path.abspath(os.environ.get("TARVO", "build/tarvo"))
GENERATED = os.environ.get("TARVO_GENERATED", os.path.join(os.path.dirname(TARVO), "share"))
MAN = os.path.join(GENERATED, "man", "man1", "tarvo.1")
BASH = os.path.join(GENERATED, "bash-completion", "completions", "tarvo")
ZSH = os.path.join(GENERATED, "zsh", "site-functions", "_tarvo")
FISH = os.path.join(GENERATED, "fish", "vendor_completions.d", "tarvo.fish")


def tarvo(*args):
    return subprocess.run([TARVO] + list(args), stdout=subprocess.PIPE, check=True).stdout.decode()


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def section(text, title):
    """The lines of a --help section ('Options:', 'Positionals:', ...) up to the next blank line."""
    m = re.search("^" + title + "\n((?:.+\n)*)", text, re.M)
    return m.group(1) if m else ""


def help_of(command=None):
    """What --help declares: options (name -> value text or ''), positionals and, for the top, commands."""
    text = tarvo(*([command] if command else []), "--help")
    options = {}
    for line in section(text, "Options:").splitlines():
        m = re.match(r"  (-\S+(?:,-\S+)*)(?: (\S+))?", line)
        if m:
            for name in m.group(1).split(","):
                options[name] = m.group(2) if m.group(2) and m.group(2) != "REQUIRED" else ""
    positionals = [line.split()[0] for line in section(text, "Positionals:").splitlines() if line.startswith("  ")]
    commands = [line.split()[0] for line in section(text, "Subcommands:").splitlines()]
    return options, positionals, commands


TOP_OPTIONS, _, COMMANDS = help_of()
DECLARED = {c: help_of(c) for c in COMMANDS}


def complete(*words):
    """COMPREPLY of the bash completion for the command line `words`, the last being the word completed."""
    script = ('source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _tarvo; '
              'printf "%s\\n" "${COMPREPLY[@]}"')
    env = dict(os.environ, PATH=os.path.dirname(TARVO) + os.pathsep + os.environ.get("PATH", ""))
    out = subprocess.run(["bash", "-c", script, "bash", BASH, "tarvo"] + list(words), stdout=subprocess.PIPE,
                         env=env, check=True).stdout.decode()
    return sorted(line for line in out.splitlines() if line)


class Generated(unittest.TestCase):
    def test_help_is_what_is_compared(self):
        self.assertEqual(COMMANDS, ["check", "events", "grammars", "grammar", "export", "import-dtd"])
        self.assertIn("--format", DECLARED["check"][0])
        self.assertEqual(DECLARED["check"][1], ["GRAMMAR", "FILE"])
        self.assertEqual(sorted(TOP_OPTIONS), ["--help", "--version", "-h"])

    def test_manual_page_renders_every_command_and_option(self):
        rendered = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-rLL=250n", "-rHY=0", "-P-cbou", MAN],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=True)
        self.assertEqual(rendered.stderr.decode(), "")
        text = rendered.stdout.decode()
        for name in TOP_OPTIONS:
            self.assertIn(name, text.split("COMMANDS")[0])
        # One subsection per command, headed by its usage line.
        parts = re.split(r"^ {3}(tarvo [\w-]+) .*$", text.split("EXIT STATUS")[0], flags=re.M)
        sections = dict(zip(parts[1::2], parts[2::2]))
        self.assertEqual(sorted(sections), sorted("tarvo " + c for c in COMMANDS))
        for command, (options, positionals, _) in DECLARED.items():
            body = sections["tarvo " + command]
            for name, value in options.items():
                self.assertRegex(body, r"(?m)(^ +|, )" + re.escape(name) + r"(,| |$)", (command, name))
                if value and name.startswith("--"):
                    self.assertIn(name + " " + value, body, (command, name))
            for p in positionals:
                self.assertRegex(body, r"(?m)^ +" + p + r"(\.\.\.)?( |$)", (command, p))
        for status in "01234":
            self.assertRegex(text.split("EXIT STATUS")[1], r"(?m)^ +" + status + "  ")

    def test_bash_completes_commands_options_and_values(self):
        self.assertEqual(complete("ch"), ["check"])
        self.assertEqual(complete("gr"), ["grammar", "grammars"])
        self.assertEqual(complete("--v"), ["--version"])
        for command, (options, _, _) in DECLARED.items():
            self.assertEqual(complete(command, "-"), sorted(options), command)
            for name, value in options.items():
                if "|" in value:
                    self.assertEqual(complete(command, name, ""), sorted(value.split("|")), (command, name))
        self.assertEqual(complete("check", "--format", "js"), ["json"])
        self.assertEqual(complete("check", "--format", "=", ""), sorted("text gcc json sarif github".split()))
        self.assertEqual(complete("export", "--format", "d"), ["dtd"])
        grammars = complete("check", "")
        self.assertIn("heatmap", grammars)
        self.assertEqual(len(grammars), int(re.search(r"\((\d+) built in\)", tarvo("--version")).group(1)))
        self.assertEqual(complete("check", "-A", "heat"), ["heatmap"])
        # After the grammar come files; after a valued option's value, too.
        here = os.path.dirname(os.path.abspath(__file__))
        me = os.path.join(here, os.path.basename(__file__))
        self.assertEqual(complete("check", "heatmap", me[:-3]), [me])
        self.assertEqual(complete("check", "--max-errors", "3", "heat"), ["heatmap"])
        self.assertEqual(complete("grammars", ""), [])

    def test_zsh_and_fish_declare_every_option(self):
        zsh, fish = read(ZSH), read(FISH)
        for command, (options, positionals, _) in DECLARED.items():
            block = re.search(r"^ +" + re.escape(command) + r"\) _arguments -s \\\n((?: +.*\\\n)*) +;;", zsh, re.M)
            self.assertTrue(block, command)
            lines = [line for line in fish.splitlines() if "__fish_seen_subcommand_from " + command + "'" in line]
            for name, value in options.items():
                self.assertRegex(block.group(1), r"['{,(]" + re.escape(name) + r"[\[ ,})]", (command, name))
                flag = (" -l " + name[2:]) if name.startswith("--") else (" -s " + name[1:])
                self.assertTrue([line for line in lines if flag + " " in line], (command, name))
                if "|" in value:
                    self.assertIn(":(" + value.replace("|", " ") + ")'", block.group(1))
            for p in positionals:
                self.assertIn(":" + p + ":", block.group(1))
        for command in COMMANDS:
            self.assertIn("-a " + command + " ", fish)
            self.assertRegex(zsh, r"'" + re.escape(command) + ":")
        for shell, path in [("zsh", ZSH), ("fish", FISH)]:
            if shutil.which(shell):
                subprocess.run([shell, "-n", path], check=True)

    @unittest.skipUnless(shutil.which("fish"), "needs fish")
    def test_fish_completes_as_fish_runs_it(self):
        def fish_complete(line):
            env = dict(os.environ, PATH=os.path.dirname(TARVO) + os.pathsep + os.environ.get("PATH", ""))
            out = subprocess.run(["fish", "--no-config", "-c", 'source $argv[1]; complete -C"$argv[2]"', FISH, line],
                                 stdout=subprocess.PIPE, env=env, check=True).stdout.decode()
            return sorted(line.split("\t")[0] for line in out.splitlines())

        self.assertEqual(fish_complete("tarvo ch"), ["check"])
        self.assertEqual(fish_complete("tarvo check --format "), sorted("text gcc json sarif github".split()))
        self.assertEqual(fish_complete("tarvo check heat"), ["heatmap"])
        for command, (options, _, _) in DECLARED.items():
            self.assertEqual(fish_complete("tarvo %s -" % command), sorted(options), command)

    def test_generate_refuses_other_kinds(self):
        p = subprocess.run([TARVO, "--generate", "troff"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual((p.returncode, p.stdout), (2, b""))
        self.assertIn(b"man, bash, zsh or fish", p.stderr)
        for kind, path in [("man", MAN), ("bash", BASH), ("zsh", ZSH), ("fish", FISH)]:
            self.assertEqual(tarvo("--generate", kind), read(path), kind)


if __name__ == "__main__":
    unittest.main()
