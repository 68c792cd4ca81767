import os

from hypothesis import HealthCheck, settings

settings.register_profile(
    "dral",
    deadline=None,
    max_examples=150,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)
settings.register_profile("dral-long", parent=settings.get_profile("dral"), max_examples=2000)
settings.load_profile(os.environ.get("DRAL_HYPOTHESIS_PROFILE", "dral"))
