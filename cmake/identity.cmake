# The component's identity, written once. The type library source
# (hosting/vavizav.idl.in), the generated header vavizav_identity.h (the
# registration code and the tests), the installer's registry entries and the
# test scripts' generated identity file are all made from these values.
#
# The GUIDs are the component's identity on every machine it was ever
# registered on. They never change; a change would be a different component.

set(VAVIZAV_LIBRARY_NAME Vavizav)
set(VAVIZAV_LIBID AAF50BA9-3208-45C4-B716-FB3B99E9996E)
set(VAVIZAV_TYPELIB_MAJOR 2)
set(VAVIZAV_TYPELIB_MINOR 0)
set(VAVIZAV_TYPELIB_VERSION ${VAVIZAV_TYPELIB_MAJOR}.${VAVIZAV_TYPELIB_MINOR})
set(VAVIZAV_THREADING_MODEL Apartment)
# The system's automation marshaller: interfaces are marshalled from the type library.
set(VAVIZAV_AUTOMATION_MARSHALLER 00020424-0000-0000-C000-000000000046)
# ...and a pure dispinterface (the events) through IDispatch's own marshaller,
# as RegisterTypeLib registers one.
set(VAVIZAV_DISPATCH_MARSHALLER 00020420-0000-0000-C000-000000000046)

# The first class: one version-independent ProgID only.
set(VAVIZAV_VEVI_PROGID Vavizav.VeviVORIdezaz)
set(VAVIZAV_VEVI_CLSID 14846EDB-206F-4B33-A4F7-279DEA2569B8)
set(VAVIZAV_VEVI_IID 3F86DC43-7796-48A4-B319-7A6BD8860FEE)
set(VAVIZAV_VEVI_INTERFACE _VeviVORIdezaz)

# The second class and the objects it hands out (not creatable by name).
set(VAVIZAV_RESOLVER_PROGID Vavizav.Resolver)
set(VAVIZAV_RESOLVER_VERSIONED_PROGID Vavizav.Resolver.1)
set(VAVIZAV_RESOLVER_CLSID 7F72BEAA-3FB2-43BB-9446-4FFC514F27D9)
set(VAVIZAV_RESOLVER_IID F1A8575C-A954-47A5-9D5D-3552BB23A742)
set(VAVIZAV_RESOLVER_INTERFACE _Resolver)
set(VAVIZAV_ANSWER_CLSID E4C3C68A-B854-4909-B076-4FBCEE25A0BE)
set(VAVIZAV_ANSWER_IID 67CFC9C7-0690-4FFF-9597-EC96BD13B7A9)
set(VAVIZAV_ANSWER_INTERFACE _Answer)
set(VAVIZAV_RECORDS_CLSID 04838799-1A34-40FE-A421-22CC16E60CC5)
set(VAVIZAV_RECORDS_IID 087FDF5C-197D-4D9C-87D2-A0FA62021B32)
set(VAVIZAV_RECORDS_INTERFACE _Records)
set(VAVIZAV_RECORD_CLSID 2C693EA0-1468-478B-BCBB-A0AC814920B2)
set(VAVIZAV_RECORD_IID 540FA1C2-FE1B-4B6D-B412-8460EF338004)
set(VAVIZAV_RECORD_INTERFACE _Record)
set(VAVIZAV_BATCH_CLSID 0E04DEC2-4309-45CC-B2E9-EBB36273A842)
set(VAVIZAV_BATCH_IID 813544F5-AB75-4BA8-BFB2-68A4F7FCE598)
set(VAVIZAV_BATCH_INTERFACE _Batch)
# The Resolver's events (a dispinterface: called through IDispatch only).
set(VAVIZAV_EVENTS_IID 7B88DB1B-F2F5-45E3-BA74-559504592515)
set(VAVIZAV_EVENTS_INTERFACE _ResolverEvents)
