#!/usr/bin/env python3
"""Reads the built glimmer-connector.exe back: its import table holds only DLLs that Windows
always takes from System32 (its KnownDLLs), and it carries the version resource and the
application manifest a Windows program should."""
import argparse
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs on Windows 10 and 11, plus
# ntdll, which the loader maps into every process before anything else. A DLL outside this list
# is searched for in the program's own folder first.
KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus",
    "imagehlp", "imm32", "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32",
    "psapi", "rpcrt4", "sechost", "setupapi", "shcore", "shell32", "shlwapi", "user32",
    "wldap32", "ws2_32", "ntdll",
}

ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
WINDOWS_10_AND_11 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


class Options:
    exe = None
    objdump = None
    version = None


def imported_dlls():
    dump = subprocess.run([Options.objdump, "-p", Options.exe], check=True, capture_output=True,
                          text=True).stdout
    return [name.lower() for name in re.findall(r"^\s*DLL Name: (\S+)", dump, re.MULTILINE)]


def imported_functions():
    dump = subprocess.run([Options.objdump, "-p", Options.exe], check=True, capture_output=True,
                          text=True).stdout
    return set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", dump, re.MULTILINE))


class ExeFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(Options.exe)

    def test_imports_only_known_dlls(self):
        dlls = imported_dlls()
        self.assertIn("kernel32.dll", dlls)  # the dump was read at all
        unknown = [dll for dll in dlls if dll.removesuffix(".dll") not in KNOWN_DLLS]
        self.assertEqual(unknown, [], "imports DLLs that Windows searches for beside the .exe")
        # The search path is narrowed to System32 before any run-time load.
        functions = imported_functions()
        self.assertIn("SetDefaultDllDirectories", functions)
        self.assertIn("LoadLibraryExW", functions)

    def resources(self, type_id):
        for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if entry.id == type_id:
                for name in entry.directory.entries:
                    for language in name.directory.entries:
                        data = language.data.struct
                        yield name.id, self.pe.get_data(data.OffsetToData, data.Size)

    def test_version_resource(self):
        major, minor, patch = (int(part) for part in Options.version.split("."))
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (major << 16 | minor, patch << 16))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (major << 16 | minor, patch << 16))
        self.assertEqual(fixed.FileType, 1)  # VFT_APP
        strings = {}
        for info in self.pe.FileInfo[0]:
            for table in getattr(info, "StringTable", []):
                strings.update({key.decode(): value.decode("utf-8") for key, value in table.entries.items()})
        self.assertEqual(strings.get("ProductName"), "Glimmer连接器")
        self.assertEqual(strings.get("ProductVersion"), Options.version)
        self.assertEqual(strings.get("FileVersion"), Options.version)
        self.assertEqual(strings.get("OriginalFilename"), "glimmer-connector.exe")
        self.assertTrue(strings.get("FileDescription"))
        # No icon: neither icon nor icon-group resources.
        self.assertEqual(list(self.resources(pefile.RESOURCE_TYPE["RT_ICON"])), [])
        self.assertEqual(list(self.resources(pefile.RESOURCE_TYPE["RT_GROUP_ICON"])), [])

    def test_manifest(self):
        manifests = list(self.resources(pefile.RESOURCE_TYPE["RT_MANIFEST"]))
        self.assertEqual([identifier for identifier, _ in manifests], [1])  # the process's manifest
        root = ElementTree.fromstring(manifests[0][1])
        self.assertEqual(root.tag, ASM_V1 + "assembly")
        identity = root.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.get("version"), Options.version + ".0")

        dependencies = [element.attrib for element in
                        root.iter(ASM_V1 + "assemblyIdentity") if element is not identity]
        self.assertIn("Microsoft.Windows.Common-Controls", [d.get("name") for d in dependencies])
        controls = next(d for d in dependencies if d.get("name") == "Microsoft.Windows.Common-Controls")
        self.assertEqual(controls.get("version"), "6.0.0.0")
        self.assertEqual(controls.get("publicKeyToken"), "6595b64144ccf1df")

        level = root.find(".//%srequestedExecutionLevel" % ASM_V3)
        self.assertEqual(level.get("level"), "asInvoker")
        self.assertEqual(level.get("uiAccess"), "false")

        supported = [os.get("Id") for os in root.iter(COMPAT + "supportedOS")]
        self.assertEqual(supported, [WINDOWS_10_AND_11])

        # The awareness the program sets at start-up (per monitor, version 2), declared too.
        awareness = [element.text for element in root.iter() if element.tag.endswith("}dpiAwareness")]
        self.assertEqual(awareness, ["PerMonitorV2"])
        aware = [element.text for element in root.iter() if element.tag.endswith("}dpiAware")]
        self.assertEqual(aware, ["true/pm"])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--version", required=True)
    own, rest = parser.parse_known_args()
    Options.exe, Options.objdump, Options.version = own.exe, own.objdump, own.version
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
