int fake_libvlccore_marker;
