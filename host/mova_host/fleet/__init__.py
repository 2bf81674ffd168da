"""The fleet bridge: a VDA 5050 2.0.0 master control for one zone of three vehicles on top of the
controller, over an MQTT broker; and simulated vehicles to try it with."""
