import os

from hypothesis import HealthCheck, settings

settings.register_profile(
    "dral",
    deadline=None,
    max_examples=150,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.register_profile("dral-long", parent=settings.get_profile("dral"), max_examples=2000)
# For the interpreters after the first in CI: the same properties, fewer examples.
settings.register_profile("dral-quick", parent=settings.get_profile("dral"), max_examples=25)
settings.load_profile(os.environ.get("DRAL_HYPOTHESIS_PROFILE", "dral"))
