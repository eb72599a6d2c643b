"""Registry fixtures shared by the report tests and the demo: realistic USB storage histories."""

from harness import CDROM, CDROM_GUID, DISK, USB_PREFIX, USBSTOR, Key, device, entry_name, interface, utc

KINGSTON = "Disk&Ven_Kingston&Prod_DataTraveler_3.0&Rev_PMAP"
SANDISK = "Disk&Ven_SanDisk&Prod_Cruzer_Blade&Rev_1.00"
TRANSCEND = "Disk&Ven_JetFlash&Prod_Transcend_16GB&Rev_1100"
GENERIC = "Disk&Ven_Generic&Prod_Flash_Disk&Rev_8.07"
LITEON = "CdRom&Ven_HL-DT-ST&Prod_DVDRAM_GP65NB60&Rev_RF01"
SILICON = "Disk&Ven_Silicon&Prod_Power_USB3&Rev_1.00"


def devices_only():
    """Device-type keys and no interface class keys at all: every device is incomplete (second section).
    Covers the instance-key choice, missing values, a value name in other case and an oversized value."""
    return (
        device(KINGSTON, utc(2019, 3, 7, 6, 5, 9), "Kingston DataTraveler 3.0 USB Device", "磁碟機",
               instance="60A44C413A8CF3B0B9630D2B&0", instance_time=utc(2023, 1, 1),
               more=[("ZZ_second&0", {"FriendlyName": "never read", "DeviceDesc": "never read"})])
        + device(SANDISK, utc(2020, 12, 31, 16, 0, 0), "SanDisk Cruzer Blade USB Device", None,
                 instance="4C530001230517114253&0")
        + [Key(USBSTOR + "\\" + TRANSCEND, utc(2005, 1, 2, 12, 34, 56, 789000), {"DeviceDesc": "own value of the type key"})]
        + device(GENERIC, utc(2021, 6, 30, 23, 59, 59), instance=None)
        + [Key(USBSTOR + "\\" + GENERIC + "\\000000000000&0", utc(2021, 6, 30, 23, 59, 59),
               {"friendlyname": "other case is not found", "DeviceDesc": "Disk drive"})]
        + device(SILICON, utc(2022, 2, 2, 2, 2, 2), "x" * 256, "y" * 255, instance="SP0000&0")
    )


def three_sections():
    """Linked devices, incomplete devices and orphan interface entries, with the entry names that the
    interface scan must reject or cut in unusual ways."""
    keys = (
        device(KINGSTON, utc(2019, 3, 7, 6, 5, 9), "Kingston DataTraveler 3.0 USB Device", "磁碟機",
               instance="60A44C413A8CF3B0B9630D2B&0")
        + device(SANDISK, utc(2020, 12, 31, 16, 0, 0), "SanDisk Cruzer Blade USB Device", "Disk drive",
                 instance="4C530001230517114253&0")
        + device(LITEON, utc(2018, 8, 8, 8, 8, 8), "HL-DT-ST DVDRAM GP65NB60 USB Device", "光碟機",
                 instance="KLAK4BE4212&0")
        + device(TRANSCEND, utc(2017, 1, 1, 0, 0, 1), "JetFlash Transcend 16GB USB Device", "Disk drive",
                 instance="5U4FL4X2&0")
        + device(GENERIC, utc(2016, 5, 5, 5, 5, 5), "Generic Flash Disk USB Device", "Disk drive",
                 instance="AA04012700007751&0")
    )
    # Kingston: two instances with disk entries, plus a CD-ROM entry of the same name; the CD-ROM one is
    # last in array order and supplies the last use although it is not the latest.
    keys += interface(DISK, entry_name(KINGSTON, "60A44C413A8CF3B0B9630D2B&0"), utc(2024, 4, 4, 4, 4, 4))
    keys += interface(DISK, entry_name(KINGSTON, "70A44C413A8CF3B0B9630D2C&0"), utc(2024, 5, 5, 5, 5, 5))
    keys += interface(CDROM, entry_name(KINGSTON, "60A44C413A8CF3B0B9630D2B&0", CDROM_GUID), utc(2022, 2, 22, 2, 22, 22))
    # CD-ROM drive linked through the CD-ROM class.
    keys += interface(CDROM, entry_name(LITEON, "KLAK4BE4212&0", CDROM_GUID), utc(2023, 11, 11, 11, 11, 11))
    # Generic: an entry with nothing after the device key name; the whole rest is the name.
    keys += interface(DISK, USB_PREFIX + GENERIC, utc(2021, 7, 1, 0, 0, 0))
    # Transcend: an entry without "#" subkey: linked, with an empty last use.
    keys += interface(DISK, entry_name(TRANSCEND, "5U4FL4X2&0"))
    # Rejected: prefix in lower case, other buses, a name shorter than the prefix.
    keys += interface(DISK, "##?#usbstor#" + SANDISK + "#4C530001230517114253&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                      utc(2024, 1, 1))
    keys += interface(DISK, "##?#SCSI#Disk&Ven_WDC&Prod_WD10EZEX-08WN4A0#4&2a0e3e5b&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                      utc(2024, 1, 1))
    keys += interface(DISK, "##?#IDE#DiskST1000DM003#5&1f2a3b4c&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                      utc(2024, 1, 1))
    keys += interface(CDROM, "##?#USBSTOR", utc(2024, 1, 1))
    # Orphans: the bare prefix (empty device key name), and entries of devices whose type key is gone.
    keys += interface(DISK, USB_PREFIX, utc(2015, 10, 10, 10, 10, 10))
    keys += interface(DISK, entry_name("Disk&Ven_Removed&Prod_Old_Stick&Rev_0.01", "0123&0"), utc(2014, 2, 28, 23, 0, 0))
    keys += interface(CDROM, entry_name("CdRom&Ven_Gone&Prod_Drive&Rev_1.0", "9&0", CDROM_GUID))
    return keys


def all_rejected():
    """Interface entries exist, but none passes the prefix test: every device is incomplete and there are
    no orphans."""
    keys = (
        device(KINGSTON, utc(2019, 3, 7, 6, 5, 9), "Kingston DataTraveler 3.0 USB Device", "磁碟機",
               instance="60A44C413A8CF3B0B9630D2B&0")
        + device(LITEON, utc(2018, 8, 8, 8, 8, 8), "HL-DT-ST DVDRAM GP65NB60 USB Device", "光碟機",
                 instance="KLAK4BE4212&0")
    )
    keys += interface(DISK, "##?#usbstor#" + KINGSTON + "#60A44C413A8CF3B0B9630D2B&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                      utc(2024, 1, 1))
    keys += interface(DISK, "##?#USBSTOR" + KINGSTON, utc(2024, 1, 1))
    keys += interface(CDROM, "#?#USBSTOR#" + LITEON + "#KLAK4BE4212&0", utc(2024, 1, 1))
    keys += interface(CDROM, "##?#SCSI#CdRom&Ven_NECVMWar&Prod_VMware_SATA_CD01#1&2afd7d61&0&000000", utc(2024, 1, 1))
    return keys


GOLDEN = {
    "devices_only": devices_only,
    "three_sections": three_sections,
    "all_rejected": all_rejected,
}
