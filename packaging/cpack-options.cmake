# Read by cpack before it packs. Each Debian package has a description of its own (summary line
# first): no common summary is put in front of them.
unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)
