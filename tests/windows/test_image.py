#!/usr/bin/python3
"""The facts of the built Windows image, read with pefile: headers, imports
and the resource tree with the certificates and the manifest.

Usage: test_image.py CERTINSTALL_EXE MANIFEST CERTIFICATE_DIR
"""
import os
import sys
import unittest

import pefile

EXE, MANIFEST, CERTIFICATES = sys.argv[1:4] if len(sys.argv) > 3 else (None,) * 3

POLISH_POLAND = 1045
ENGLISH_UNITED_STATES = 1033
RT_MANIFEST = 24
CERTIFICATE_IDS = {"PROD": [101, 102, 103, 104], "TEST": [105, 106, 107, 108]}

MACHINE_I386 = pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"]
PE32 = pefile.OPTIONAL_HEADER_MAGIC_PE
SUBSYSTEM_CONSOLE = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
DLL_CHARACTERISTICS = (pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE"]
                       | pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_NX_COMPAT"]
                       | pefile.DLL_CHARACTERISTICS["IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"])


def label(entry):
    """A named entry as its str, a numbered one as its int."""
    return str(entry.name) if entry.name is not None else entry.id


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Image(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)
        # Every (type, name, language, data entry) leaf, and every directory
        # table on the way.
        cls.leaves = []
        cls.tables = []
        root = cls.pe.DIRECTORY_ENTRY_RESOURCE
        cls.tables.append(root.struct)
        for type_entry in root.entries:
            cls.tables.append(type_entry.directory.struct)
            for name_entry in type_entry.directory.entries:
                cls.tables.append(name_entry.directory.struct)
                for language_entry in name_entry.directory.entries:
                    cls.leaves.append((label(type_entry), label(name_entry), label(language_entry),
                                       language_entry.data.struct))

    def data(self, entry):
        return self.pe.get_data(entry.OffsetToData, entry.Size)

    def leaves_of_type(self, resource_type):
        return [leaf for leaf in self.leaves if leaf[0] == resource_type]

    def test_machine_is_32_bit_x86_executable(self):
        header = self.pe.FILE_HEADER
        self.assertEqual(header.Machine, MACHINE_I386)
        self.assertTrue(header.IMAGE_FILE_EXECUTABLE_IMAGE)
        self.assertTrue(header.IMAGE_FILE_32BIT_MACHINE)
        self.assertFalse(header.IMAGE_FILE_DLL)

    def test_optional_header_is_pe32(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, PE32)

    def test_subsystem_is_console(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem, SUBSYSTEM_CONSOLE)

    def test_minimum_os_and_subsystem_version_is_6_0(self):
        header = self.pe.OPTIONAL_HEADER
        self.assertEqual((header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion), (6, 0))
        self.assertEqual((header.MajorSubsystemVersion, header.MinorSubsystemVersion), (6, 0))

    def test_dll_characteristics_are_dynamic_base_nx_compat_terminal_server_aware(self):
        self.assertEqual(hex(self.pe.OPTIONAL_HEADER.DllCharacteristics), hex(DLL_CHARACTERISTICS))

    def test_base_relocations_are_kept_for_aslr(self):
        directory = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
        self.assertGreater(directory.Size, 0)
        self.assertIn(b".reloc", [section.Name.rstrip(b"\0") for section in self.pe.sections])
        self.assertFalse(self.pe.FILE_HEADER.IMAGE_FILE_RELOCS_STRIPPED)
        self.assertTrue(getattr(self.pe, "DIRECTORY_ENTRY_BASERELOC", []))

    def test_no_time_stamp_in_file_header_or_directories(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0)
        if hasattr(self.pe, "DIRECTORY_ENTRY_EXPORT"):
            self.assertEqual(self.pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp, 0)
        for entry in getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", []):
            self.assertEqual(entry.struct.TimeDateStamp, 0)
        for entry in self.pe.DIRECTORY_ENTRY_IMPORT:  # non-zero only in bound imports
            self.assertEqual(entry.struct.TimeDateStamp, 0, entry.dll)
        self.assertEqual([table.TimeDateStamp for table in self.tables], [0] * len(self.tables))

    def test_imports_exactly_kernel32_crypt32_msvcrt(self):
        dlls = sorted(entry.dll.decode("ascii").lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT)
        self.assertEqual(dlls, ["crypt32.dll", "kernel32.dll", "msvcrt.dll"])
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT"))

    def test_resource_types_are_named_prod_and_test_and_the_manifest(self):
        types = [label(entry) for entry in self.pe.DIRECTORY_ENTRY_RESOURCE.entries]
        self.assertEqual(sorted(types, key=str), sorted(["PROD", "TEST", RT_MANIFEST], key=str))

    def test_certificates_are_integer_ids_under_their_type_in_language_1045_only(self):
        for resource_type, ids in CERTIFICATE_IDS.items():
            with self.subTest(resource_type):
                found = [(name, language) for _, name, language, _ in self.leaves_of_type(resource_type)]
                self.assertEqual(found, [(i, POLISH_POLAND) for i in ids])

    def test_each_certificate_equals_its_file_byte_for_byte(self):
        for resource_type, ids in CERTIFICATE_IDS.items():
            for certificate_id in ids:
                with self.subTest(resource_type=resource_type, id=certificate_id):
                    entries = [entry for _, name, _, entry in self.leaves_of_type(resource_type) if name == certificate_id]
                    self.assertEqual(len(entries), 1)
                    self.assertEqual(self.data(entries[0]), read(os.path.join(CERTIFICATES, f"{certificate_id}.der")))

    def test_manifest_is_type_24_id_1_language_1033_and_equals_the_source_file(self):
        manifests = self.leaves_of_type(RT_MANIFEST)
        self.assertEqual([(name, language) for _, name, language, _ in manifests], [(1, ENGLISH_UNITED_STATES)])
        source = read(MANIFEST)
        self.assertEqual(len(source), 381)
        self.assertEqual(self.data(manifests[0][3]), source)

    def test_every_data_entry_has_code_page_0(self):
        self.assertEqual([(t, n, entry.CodePage) for t, n, _, entry in self.leaves],
                         [(t, n, 0) for t, n, _, _ in self.leaves])

    def test_every_directory_table_has_zero_characteristics_time_stamp_and_version(self):
        fields = [(table.Characteristics, table.TimeDateStamp, table.MajorVersion, table.MinorVersion)
                  for table in self.tables]
        self.assertEqual(fields, [(0, 0, 0, 0)] * len(self.tables))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
