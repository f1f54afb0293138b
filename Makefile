# The two commands a new user needs:
#   make run    build and run the installer against a throwaway store
#   make test   build everything and run every test
# Both install missing Debian packages first when run as root.

DIST ?= test
JOBS ?= $(shell nproc)

.PHONY: all run test packages host host-sanitize clean

all: host

packages:
	@tools/install-packages.sh

host: packages
	cmake --preset host
	cmake --build --preset host -j $(JOBS)

host-sanitize: packages
	cmake --preset host-sanitize
	cmake --build --preset host-sanitize -j $(JOBS)

test: host host-sanitize
	ctest --preset host -j $(JOBS)
	ctest --preset host-sanitize -j $(JOBS)

# The host build keeps its stores under $$XDG_DATA_HOME; point it at build/.
RUN_DATA := $(CURDIR)/build/run/data
run: host
	rm -rf $(RUN_DATA) && mkdir -p $(RUN_DATA)
	XDG_DATA_HOME=$(RUN_DATA) build/host/certinstall $(DIST); echo "exit status: $$?"
	@echo "Installed into $(RUN_DATA)/certinstall/stores:"
	@cd $(RUN_DATA)/certinstall/stores 2>/dev/null && find . -type f | sort || echo "  (nothing)"

clean:
	rm -rf build dist
